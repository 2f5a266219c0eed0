// LongPhase: what a stage hands to its long work (a copy, the archive's
// stream, the wait for the package manager) as that work's PieceObserver.
// Between two pieces it stops the work once a stop signal is pending, and
// it tells the run's status line how far the phase has come, so a stage
// never looks at signals or the terminal itself.
#pragma once

#include <cstdint>

#include "base/piece_observer.hpp"
#include "stages/run_context.hpp"
#include "stages/status_line.hpp"

namespace diagpack {

class LongPhase : public PieceObserver {
 public:
  // Begins |phase| on run.status; it ends, and the line is erased, when
  // this object goes.
  LongPhase(const RunContext& run, StatusPhase phase);
  ~LongPhase() override;
  LongPhase(const LongPhase&) = delete;
  LongPhase& operator=(const LongPhase&) = delete;

  // Error::interrupted() when a stop signal is pending (the signal stays
  // for the driver), else success after passing |bytes| to the status
  // line.
  Status piece_done(uint64_t bytes) override;

 private:
  const RunContext& run_;
};

}  // namespace diagpack
