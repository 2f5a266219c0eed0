// The one UTF-8 decoder: every reader of UTF-8 here (the checks and fault
// texts, the lossy decoding, the argument walk, Jaro's code points and the
// escape filter) judges bytes by the Unicode Standard's table of
// well-formed byte sequences through Utf8Decoder, so they cannot disagree
// about where a character or an ill-formed subpart begins and ends.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace diagpack {

// Decodes a byte stream one byte at a time. Each ill-formed subpart is
// reported once, with the length of its maximal subpart (the bytes that
// could still begin a well-formed sequence), so a replacement character per
// fault gives the Standard's recommended lossy decoding.
class Utf8Decoder {
 public:
  struct Step {
    enum class Kind {
      NeedMore,   // the byte continues a sequence that is not complete yet
      Character,  // a sequence is complete: |code|, |length| bytes
      Fault,      // an ill-formed subpart of |length| bytes ended
    };
    Kind kind = Kind::NeedMore;
    char32_t code = 0;
    size_t length = 0;
    // For a Fault: whether the byte fed belongs to the subpart. When it does
    // not, it broke off an unfinished sequence and must be fed again, as the
    // possible start of the next one.
    bool consumed = true;
  };

  Step feed(unsigned char byte);

  // The bytes of the character just completed (valid until the next feed).
  std::string_view sequence() const { return std::string_view(bytes_, len_); }
  // The bytes held of an unfinished sequence, 0 between sequences.
  size_t pending() const { return need_ > 0 ? len_ : 0; }

 private:
  char bytes_[4] = {};
  size_t len_ = 0;
  size_t need_ = 0;  // continuation bytes still missing
  char32_t code_ = 0;
};

// U+FFFD, which stands for each ill-formed subpart in a lossy decoding.
inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The first sequence of |bytes| (not empty): a character, or the maximal
// ill-formed subpart that starts there.
struct Utf8Sequence {
  bool well_formed = false;
  bool incomplete = false;  // ill formed because the bytes ended too soon
  char32_t code = 0;        // the character, when well formed
  size_t length = 0;        // bytes of the character or of the subpart
};
Utf8Sequence first_utf8_sequence(std::string_view bytes);

// The first ill-formed sequence of a byte string.
struct Utf8Fault {
  size_t index = 0;   // bytes before the sequence (all well formed)
  size_t length = 0;  // bytes accepted before the wrong one, lead included
  bool incomplete = false;  // the input ended where a byte was still needed
};

// Finds the first fault of a byte stream that arrives in pieces (a child's
// output read in chunks), wherever the pieces are cut: a sequence may begin
// in one piece and end in the next. Indexes count from the stream's start.
class Utf8Checker {
 public:
  // Checks the next piece of the stream; nothing more is looked at once a
  // fault was found.
  void feed(std::string_view piece);
  // The first fault of everything fed, an unfinished last sequence being
  // incomplete; nothing when it was all valid UTF-8.
  std::optional<Utf8Fault> finish() const;

 private:
  Utf8Decoder decoder_;
  size_t offset_ = 0;          // bytes fed before the current piece
  size_t sequence_start_ = 0;  // where the unfinished sequence began
  std::optional<Utf8Fault> fault_;
};

// Returns the first fault of |bytes|, or nothing when they are valid UTF-8.
std::optional<Utf8Fault> find_utf8_fault(std::string_view bytes);

inline bool is_valid_utf8(std::string_view bytes) {
  return !find_utf8_fault(bytes).has_value();
}

// "invalid utf-8 sequence of 1 bytes from index 5" or
// "incomplete utf-8 byte sequence from index 10".
std::string utf8_fault_text(const Utf8Fault& fault);

// The text of a read whose bytes were not UTF-8.
inline constexpr std::string_view kStreamNotUtf8Text =
    "stream did not contain valid UTF-8";

// Decodes |bytes| replacing every maximal ill-formed subpart by U+FFFD.
std::string utf8_lossy(std::string_view bytes);

// The longest prefix of |bytes| that is valid UTF-8.
std::string_view utf8_valid_prefix(std::string_view bytes);

// Reads each byte as the Latin-1 character of the same number.
std::string latin1_to_utf8(std::string_view bytes);

// Inline below: the decoder runs once per byte of whole files.

namespace utf8_table {

// Bytes after the lead byte that a sequence needs, or -1 for a byte that
// cannot lead.
inline int trailing_count(unsigned char lead) {
  if (lead < 0x80) return 0;
  if (lead < 0xC2) return -1;
  if (lead < 0xE0) return 1;
  if (lead < 0xF0) return 2;
  if (lead < 0xF5) return 3;
  return -1;
}

// Whether |b| may follow the bytes collected so far. Only the second byte's
// range depends on the lead (no overlong forms, no surrogates, nothing past
// U+10FFFF); every later byte is 80..BF.
inline bool continues(unsigned char lead, size_t collected, unsigned char b) {
  unsigned char lo = 0x80, hi = 0xBF;
  if (collected == 1) {
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  }
  return b >= lo && b <= hi;
}

}  // namespace utf8_table

inline Utf8Decoder::Step Utf8Decoder::feed(unsigned char byte) {
  using Kind = Step::Kind;
  if (need_ > 0) {
    const auto lead = static_cast<unsigned char>(bytes_[0]);
    if (!utf8_table::continues(lead, len_, byte)) {
      need_ = 0;
      return Step{Kind::Fault, 0, len_, false};
    }
    bytes_[len_++] = static_cast<char>(byte);
    code_ = (code_ << 6) | (byte & 0x3F);
    if (--need_ > 0) return Step{};
    return Step{Kind::Character, code_, len_, true};
  }
  const int need = utf8_table::trailing_count(byte);
  if (need < 0) {
    len_ = 0;
    return Step{Kind::Fault, 0, 1, true};
  }
  bytes_[0] = static_cast<char>(byte);
  len_ = 1;
  need_ = static_cast<size_t>(need);
  code_ = byte & (need == 0   ? 0x7F
                  : need == 1 ? 0x1F
                  : need == 2 ? 0x0F
                              : 0x07);
  if (need_ > 0) return Step{};
  return Step{Kind::Character, code_, 1, true};
}

}  // namespace diagpack
