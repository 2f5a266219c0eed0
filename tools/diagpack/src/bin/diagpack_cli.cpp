// Entry point of diagpack-cli: one collection run for component 3 (cli).
#include <unistd.h>  // environ

#include "collection_run.hpp"

int main(int argc, char** argv) {
  diagpack::prepare_process();
  return diagpack::create_diagpack(
      /*component=*/3, diagpack::Environment::of_process(argc, argv, environ),
      diagpack::Console{});
}
