// The machine follows the published state diagram of the VT500-series
// parser (states ground, escape, escape intermediate, CSI entry / param /
// intermediate / ignore, DCS entry / param / intermediate / passthrough /
// ignore, OSC string, SOS/PM/APC string), run over Unicode characters
// instead of 8-bit codes:
//
// - "Anywhere" transitions: CAN and SUB end any sequence (to ground), ESC
//   starts an escape sequence, and the C1 controls do what their 8-bit
//   codes do (CSI, DCS, OSC, SOS/PM/APC start strings, ST ends them, the
//   others execute and return to ground).
// - Only the ground state prints. Every other action (execute, collect,
//   param, dispatch, hook, put, osc_put) has no output here, so all we keep
//   is the state.
// - Where the diagram would treat an 8-bit code from A0 like its 7-bit
//   twin, a character from U+00A0 up is printed in ground and ignored
//   elsewhere, which leaves the state as it was.
// - BEL also ends an OSC string, as terminals commonly accept.
#include "cli/vt_filter.hpp"

namespace diagpack {

namespace {

bool in(char32_t c, char32_t lo, char32_t hi) { return c >= lo && c <= hi; }

// C0 controls that a sequence's header executes (or ignores) in place.
bool is_c0(char32_t c) { return c <= 0x17 || c == 0x19 || in(c, 0x1C, 0x1F); }

}  // namespace

bool VtFilter::anywhere(char32_t c) {
  if (c == 0x18 || c == 0x1A || c == 0x9C || in(c, 0x80, 0x8F) ||
      in(c, 0x91, 0x97) || c == 0x99 || c == 0x9A) {
    state_ = State::Ground;
  } else if (c == 0x1B) {
    state_ = State::Escape;
  } else if (c == 0x90) {
    state_ = State::DcsEntry;
  } else if (c == 0x9B) {
    state_ = State::CsiEntry;
  } else if (c == 0x9D) {
    state_ = State::OscString;
  } else if (c == 0x98 || c == 0x9E || c == 0x9F) {
    state_ = State::SosPmApcString;
  } else {
    return false;
  }
  return true;
}

VtFilter::State VtFilter::escape_next(char32_t c) const {
  if (in(c, 0x20, 0x2F)) return State::EscapeIntermediate;
  if (state_ == State::Escape) {
    if (c == '[') return State::CsiEntry;
    if (c == ']') return State::OscString;
    if (c == 'P') return State::DcsEntry;
    if (c == 'X' || c == '^' || c == '_') return State::SosPmApcString;
  }
  if (in(c, 0x30, 0x7E)) return State::Ground;  // esc_dispatch
  return state_;  // C0 executes, DEL and wide characters are ignored
}

VtFilter::State VtFilter::csi_next(char32_t c) const {
  const bool entry = state_ == State::CsiEntry;
  const bool param = state_ == State::CsiParam;
  if (in(c, 0x40, 0x7E)) return State::Ground;  // csi_dispatch
  if (state_ == State::CsiIgnore) return state_;
  if (in(c, 0x20, 0x2F)) return State::CsiIntermediate;
  if (in(c, 0x30, 0x39) || c == ';')
    return entry || param ? State::CsiParam : State::CsiIgnore;
  if (in(c, 0x3C, 0x3F)) return entry ? State::CsiParam : State::CsiIgnore;
  if (c == ':') return State::CsiIgnore;
  return state_;
}

VtFilter::State VtFilter::dcs_next(char32_t c) const {
  const bool entry = state_ == State::DcsEntry;
  const bool param = state_ == State::DcsParam;
  if (in(c, 0x40, 0x7E)) return State::DcsPassthrough;  // hook
  if (in(c, 0x20, 0x2F)) return State::DcsIntermediate;
  if (in(c, 0x30, 0x39) || c == ';')
    return entry || param ? State::DcsParam : State::DcsIgnore;
  if (in(c, 0x3C, 0x3F)) return entry ? State::DcsParam : State::DcsIgnore;
  if (c == ':') return State::DcsIgnore;
  return state_;
}

void VtFilter::advance(char32_t c, std::string_view encoded, std::string& out) {
  if (anywhere(c)) return;
  switch (state_) {
    case State::Ground:
      if (c == '\t' || c == '\n' || c == '\f' || c == '\r' ||
          in(c, 0x20, 0x7E) || c >= 0xA0)
        out += encoded;
      return;  // other C0 controls execute, DEL is ignored
    case State::Escape:
    case State::EscapeIntermediate:
      state_ = escape_next(c);
      return;
    case State::CsiEntry:
    case State::CsiParam:
    case State::CsiIntermediate:
    case State::CsiIgnore:
      if (is_c0(c)) return;  // executed inside the sequence
      state_ = csi_next(c);
      return;
    case State::DcsEntry:
    case State::DcsParam:
    case State::DcsIntermediate:
      if (is_c0(c)) return;
      state_ = dcs_next(c);
      return;
    case State::OscString:
      if (c == 0x07) state_ = State::Ground;
      return;
    case State::DcsPassthrough:
    case State::DcsIgnore:
    case State::SosPmApcString:
      return;  // swallowed up to ST, ESC, CAN or SUB
  }
}

void VtFilter::feed(std::string_view bytes, std::string& out) {
  using Kind = Utf8Decoder::Step::Kind;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    Utf8Decoder::Step step = decoder_.feed(b);
    // An ill-formed subpart is dropped; a byte that broke off an unfinished
    // sequence is read afresh.
    if (step.kind == Kind::Fault && !step.consumed) step = decoder_.feed(b);
    if (step.kind == Kind::Character)
      advance(step.code, decoder_.sequence(), out);
  }
}

std::string strip_escapes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  VtFilter filter;
  filter.feed(bytes, out);
  return out;
}

}  // namespace diagpack
