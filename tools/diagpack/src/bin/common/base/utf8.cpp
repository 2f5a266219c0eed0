#include "base/utf8.hpp"

namespace diagpack {

namespace {

// Bytes after the lead byte that a sequence needs, or -1 for a byte that
// cannot lead.
int trailing_count(unsigned char lead) {
  if (lead < 0x80) return 0;
  if (lead < 0xC2) return -1;
  if (lead < 0xE0) return 1;
  if (lead < 0xF0) return 2;
  if (lead < 0xF5) return 3;
  return -1;
}

// The range the second byte must lie in after |lead|.
void second_range(unsigned char lead, unsigned char& lo, unsigned char& hi) {
  lo = 0x80;
  hi = 0xBF;
  if (lead == 0xE0) lo = 0xA0;
  if (lead == 0xED) hi = 0x9F;
  if (lead == 0xF0) lo = 0x90;
  if (lead == 0xF4) hi = 0x8F;
}

// Examines the sequence starting at |pos|. Returns its length when it is
// well formed; otherwise fills |fault| and returns 0.
size_t scan_sequence(std::string_view s, size_t pos, Utf8Fault& fault) {
  auto lead = static_cast<unsigned char>(s[pos]);
  int need = trailing_count(lead);
  fault = Utf8Fault{pos, 1, false};
  if (need < 0) return 0;
  for (int k = 1; k <= need; ++k) {
    if (pos + k >= s.size()) {
      fault.incomplete = true;
      fault.length = static_cast<size_t>(k);
      return 0;
    }
    auto b = static_cast<unsigned char>(s[pos + k]);
    unsigned char lo = 0x80, hi = 0xBF;
    if (k == 1) second_range(lead, lo, hi);
    if (b < lo || b > hi) {
      fault.length = static_cast<size_t>(k);
      return 0;
    }
  }
  return static_cast<size_t>(need) + 1;
}

void append_replacement(std::string& out) { out += "\xEF\xBF\xBD"; }

}  // namespace

std::optional<Utf8Fault> find_utf8_fault(std::string_view bytes) {
  size_t pos = 0;
  Utf8Fault fault;
  while (pos < bytes.size()) {
    if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
      ++pos;
      continue;
    }
    size_t len = scan_sequence(bytes, pos, fault);
    if (len == 0) return fault;
    pos += len;
  }
  return std::nullopt;
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
  Utf8Fault fault;
  while (pos < bytes.size()) {
    size_t len = scan_sequence(bytes, pos, fault);
    if (len > 0) {
      out.append(bytes.substr(pos, len));
      pos += len;
      continue;
    }
    append_replacement(out);
    pos += fault.length;
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
