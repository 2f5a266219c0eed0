// The colour-off writer: removes terminal escape sequences and control
// characters from a byte stream, keeping printable text and UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/utf8.hpp"  // Utf8Decoder

namespace diagpack {

// A VT500-series (DEC ANSI) parser state machine that keeps only what the
// ground state would print. Input is decoded as UTF-8 first: a C1 control
// written as UTF-8 (U+0080..U+009F) acts as the 8-bit control it names, an
// ill-formed or unfinished sequence is dropped. Passes through: printable
// ASCII, tab, line feed, form feed, carriage return and every complete
// UTF-8 sequence of a character from U+00A0 up, met in the ground state.
// Drops: other C0 controls, DEL, C1 controls, and everything the machine
// reads as part of an ESC, CSI, DCS, OSC, SOS, PM or APC sequence. The
// output is therefore valid UTF-8 without any ESC byte, whatever the input.
class VtFilter {
 public:
  // Filters |bytes|, appending what survives to |out|. State carries over
  // from one call to the next.
  void feed(std::string_view bytes, std::string& out);

 private:
  enum class State {
    Ground,
    Escape,
    EscapeIntermediate,
    CsiEntry,
    CsiParam,
    CsiIntermediate,
    CsiIgnore,
    DcsEntry,
    DcsParam,
    DcsIntermediate,
    DcsPassthrough,
    DcsIgnore,
    OscString,
    SosPmApcString,
  };

  // Runs one decoded character through the machine; |encoded| is its
  // UTF-8 form, written out when the ground state prints it.
  void advance(char32_t c, std::string_view encoded, std::string& out);
  // The transitions that apply in every state. Returns whether |c| took one.
  bool anywhere(char32_t c);
  // The next state for |c| in the states between an introducer and the
  // final character: escape, CSI and DCS headers.
  State escape_next(char32_t c) const;
  State csi_next(char32_t c) const;
  State dcs_next(char32_t c) const;

  State state_ = State::Ground;
  // The UTF-8 sequence being collected, carried over between feeds.
  Utf8Decoder decoder_;
};

// |bytes| through a fresh VtFilter.
std::string strip_escapes(std::string_view bytes);

}  // namespace diagpack
