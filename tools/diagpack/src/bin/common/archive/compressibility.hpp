// Whether a piece of a stream is worth handing to the compressor: a cheap
// guess from two small samples of its bytes, for the block deflater.
#pragma once

#include <cstddef>
#include <span>

namespace diagpack {

// The size of the pieces a block is judged in.
inline constexpr size_t kCompressibilityPieceSize = 16 * 1024;

// True when |piece| (normally kCompressibilityPieceSize bytes, the last
// piece of a block shorter) probably shrinks under DEFLATE: many byte
// values absent from its samples, a sample entropy below 7.70 bits per
// byte, or 16 zero bytes at an offset divisible by 8. Pieces under 1 KiB
// are always compressible. Depends on the bytes alone. Never fails.
bool looks_compressible(std::span<const unsigned char> piece);

}  // namespace diagpack
