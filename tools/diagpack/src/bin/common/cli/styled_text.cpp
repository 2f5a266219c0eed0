#include "cli/styled_text.hpp"

#include <array>

#include "cli/vt_filter.hpp"  // strip_escapes

namespace diagpack {

namespace {

// UTF-8 encodings of the characters with the Unicode White_Space property.
constexpr std::array<std::string_view, 25> kWhiteSpace = {
    "\t",           "\n",           "\v",
    "\f",           "\r",           " ",
    "\xC2\x85",      // U+0085 next line
    "\xC2\xA0",      // U+00A0 no-break space
    "\xE1\x9A\x80",  // U+1680 ogham space mark
    "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
    "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85",
    "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A",  // U+2000..U+200A
    "\xE2\x80\xA8", "\xE2\x80\xA9",  // line, paragraph sep.
    "\xE2\x80\xAF",                  // U+202F
    "\xE2\x81\x9F",                  // U+205F
    "\xE3\x80\x80",                  // U+3000
};

// Removes one trailing white-space character. Returns whether it did.
bool pop_white_space(std::string& text) {
  for (std::string_view ws : kWhiteSpace) {
    if (text.size() >= ws.size() &&
        std::string_view(text).substr(text.size() - ws.size()) == ws) {
      text.resize(text.size() - ws.size());
      return true;
    }
  }
  return false;
}

}  // namespace

StyledText& StyledText::add(Style style, std::string_view text) {
  if (style == Style::Plain && text.empty()) return *this;
  runs_.push_back(StyledRun{style, std::string(text)});
  return *this;
}

StyledText& StyledText::append(const StyledText& other) {
  runs_.insert(runs_.end(), other.runs_.begin(), other.runs_.end());
  return *this;
}

void StyledText::trim_end() {
  while (!runs_.empty()) {
    std::string& last = runs_.back().text;
    while (pop_white_space(last)) {
    }
    if (!last.empty()) return;
    runs_.pop_back();
  }
}

std::string_view style_start(Style style) {
  switch (style) {
    case Style::Plain:
      return "";
    case Style::Heading:
      return "\x1b[1m\x1b[4m";
    case Style::Error:
      return "\x1b[1m\x1b[31m";
    case Style::Literal:
      return "\x1b[1m";
    case Style::Valid:
      return "\x1b[32m";
    case Style::Invalid:
      return "\x1b[33m";
  }
  return "";
}

std::string render(const StyledText& text, bool colour) {
  std::string out;
  for (const StyledRun& run : text.runs()) {
    if (run.style == Style::Plain) {
      out += run.text;
      continue;
    }
    out += style_start(run.style);
    out += run.text;
    out += kStyleReset;
  }
  return colour ? out : strip_escapes(out);
}

}  // namespace diagpack
