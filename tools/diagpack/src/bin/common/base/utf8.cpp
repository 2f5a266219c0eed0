#include "base/utf8.hpp"

namespace diagpack {

namespace {

void append_replacement(std::string& out) { out += "\xEF\xBF\xBD"; }

}  // namespace

Utf8Sequence first_utf8_sequence(std::string_view bytes) {
  Utf8Decoder decoder;
  for (char c : bytes) {
    const Utf8Decoder::Step step = decoder.feed(static_cast<unsigned char>(c));
    if (step.kind == Utf8Decoder::Step::Kind::Character)
      return Utf8Sequence{true, false, step.code, step.length};
    if (step.kind == Utf8Decoder::Step::Kind::Fault)
      return Utf8Sequence{false, false, 0, step.length};
  }
  return Utf8Sequence{false, true, 0, decoder.pending()};
}

// ASCII bytes between sequences are passed over without the decoder, which
// keeps a check of whole files near memory speed.
void Utf8Checker::feed(std::string_view piece) {
  using Kind = Utf8Decoder::Step::Kind;
  for (size_t pos = 0; pos < piece.size() && !fault_; ++pos) {
    const auto byte = static_cast<unsigned char>(piece[pos]);
    const bool between = decoder_.pending() == 0;
    if (between && byte < 0x80) continue;
    if (between) sequence_start_ = offset_ + pos;
    const Utf8Decoder::Step step = decoder_.feed(byte);
    if (step.kind == Kind::Fault)
      fault_ = Utf8Fault{sequence_start_, step.length, false};
  }
  offset_ += piece.size();
}

std::optional<Utf8Fault> Utf8Checker::finish() const {
  if (fault_ || decoder_.pending() == 0) return fault_;
  return Utf8Fault{sequence_start_, decoder_.pending(), true};
}

std::optional<Utf8Fault> find_utf8_fault(std::string_view bytes) {
  Utf8Checker checker;
  checker.feed(bytes);
  return checker.finish();
}

std::string utf8_fault_text(const Utf8Fault& fault) {
  if (fault.incomplete)
    return "incomplete utf-8 byte sequence from index " +
           std::to_string(fault.index);
  return "invalid utf-8 sequence of " + std::to_string(fault.length) +
         " bytes from index " + std::to_string(fault.index);
}

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t pos = 0;
  while (pos < bytes.size()) {
    const Utf8Sequence seq = first_utf8_sequence(bytes.substr(pos));
    if (seq.well_formed)
      out.append(bytes.substr(pos, seq.length));
    else
      append_replacement(out);
    pos += seq.length;
  }
  return out;
}

std::string_view utf8_valid_prefix(std::string_view bytes) {
  auto fault = find_utf8_fault(bytes);
  return fault ? bytes.substr(0, fault->index) : bytes;
}

std::string latin1_to_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

}  // namespace diagpack
