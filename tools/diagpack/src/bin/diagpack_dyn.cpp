// Entry point of diagpack-dyn: one collection run for component 0 (dyn).
#include <unistd.h>  // environ

#include "collection_run.hpp"

int main(int argc, char** argv) {
  diagpack::prepare_process();
  return diagpack::create_diagpack(
      /*component=*/0, diagpack::Environment::of_process(argc, argv, environ),
      diagpack::Console{});
}
