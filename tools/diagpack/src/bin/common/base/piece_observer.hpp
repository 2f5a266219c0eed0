// PieceObserver: how long work (a multi-gigabyte copy, the archive's stream,
// the wait for a child) keeps its caller informed and learns that it must
// stop. The work goes in bounded pieces and tells the observer after each
// one; the observer answers whether to go on. So the work itself needs to
// know nothing of signals or terminals, and a caller that wants neither
// passes nothing.
#pragma once

#include <cstdint>

#include "base/result.hpp"

namespace diagpack {

class PieceObserver {
 public:
  virtual ~PieceObserver() = default;
  // Called after each piece of the work with the bytes that piece moved (0
  // for a piece of waiting). Returns success to go on, or the error that
  // ends the work (Error::interrupted() for a stop signal); the work then
  // returns that error.
  virtual Status piece_done(uint64_t bytes) = 0;
};

}  // namespace diagpack
