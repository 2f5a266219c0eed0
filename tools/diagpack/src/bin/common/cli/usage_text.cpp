#include "cli/usage_text.hpp"

namespace diagpack {

namespace {

// "Usage: <program>[ --help]", with no white space at its end.
StyledText usage_line(std::string_view program, bool with_help_flag) {
  StyledText line;
  line.add(Style::Heading, kUsageHeading)
      .plain(" ")
      .add(Style::Literal, program);
  if (with_help_flag) line.plain(" ").add(Style::Literal, kLongHelpFlag);
  line.trim_end();
  return line;
}

}  // namespace

StyledText help_text(std::string_view program) {
  StyledText text;
  text.plain(kAboutText).plain("\n\n");
  text.append(usage_line(program, false)).plain("\n\n");
  text.add(Style::Heading, kOptionsHeading).plain("\n");
  text.plain("  ").add(Style::Literal, kShortHelpFlag).plain(", ");
  text.add(Style::Literal, kLongHelpFlag).plain("  ").plain(kHelpFlagText);
  text.plain("\n");
  return text;
}

StyledText error_text(const ArgumentError& error, std::string_view program) {
  StyledText text;
  text.add(Style::Error, kErrorLabel).plain(" ");
  switch (error.kind) {
    case ArgumentError::Kind::UnexpectedArgument:
      text.plain("unexpected argument '").add(Style::Invalid, error.shown);
      text.plain("' found");
      break;
    case ArgumentError::Kind::UnexpectedValue:
      text.plain("unexpected value '").add(Style::Invalid, error.shown);
      text.plain("' for '").add(Style::Literal, kLongHelpFlag);
      text.plain("' found; no more were expected");
      break;
  }
  text.plain("\n");
  if (error.suggests_help) {
    text.plain("\n  ").add(Style::Valid, kTipLabel);
    text.plain(" a similar argument exists: '")
        .add(Style::Valid, kLongHelpFlag);
    text.plain("'\n");
  }
  text.plain("\n");
  const bool usage_names_help =
      error.suggests_help || error.kind == ArgumentError::Kind::UnexpectedValue;
  text.append(usage_line(program, usage_names_help)).plain("\n\n");
  text.plain("For more information, try '").add(Style::Literal, kLongHelpFlag);
  text.plain("'.\n");
  return text;
}

}  // namespace diagpack
