// Text made of styled runs, as the help and the usage errors are built, and
// its rendering with terminal colour on or off.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace diagpack {

enum class Style {
  Plain,    // no escape sequences at all
  Heading,  // bold, underlined
  Error,    // bold, red
  Literal,  // bold
  Valid,    // green
  Invalid,  // yellow
};

struct StyledRun {
  Style style = Style::Plain;
  std::string text;
};

class StyledText {
 public:
  // Appends |text| in |style|. A styled run is kept even when empty (it is
  // still written with its sequences); empty plain text is dropped.
  StyledText& add(Style style, std::string_view text);
  StyledText& plain(std::string_view text) { return add(Style::Plain, text); }
  StyledText& append(const StyledText& other);

  // Removes Unicode white space from the end of the text, dropping runs
  // that it empties.
  void trim_end();

  const std::vector<StyledRun>& runs() const { return runs_; }

 private:
  std::vector<StyledRun> runs_;
};

// The escape sequence that starts a run of |style|: the effects first
// (bold, then underline), then the foreground colour. Empty for Plain.
std::string_view style_start(Style style);
inline constexpr std::string_view kStyleReset = "\x1b[0m";

// The bytes of |text|. With colour on, every styled run is its start
// sequence, its characters and kStyleReset; plain runs are as they are.
// With colour off, those same bytes pass through the escape filter
// (vt_filter.hpp), so nothing of an escape sequence remains.
std::string render(const StyledText& text, bool colour);

}  // namespace diagpack
