#include "stages/long_phase.hpp"

namespace diagpack {

LongPhase::LongPhase(const RunContext& run, StatusPhase phase) : run_(run) {
  run_.status.begin(std::move(phase));
}

LongPhase::~LongPhase() { run_.status.end(); }

Status LongPhase::piece_done(uint64_t bytes) {
  if (run_.interrupts.pending()) return Error::interrupted();
  run_.status.advance(bytes);
  return {};
}

}  // namespace diagpack
