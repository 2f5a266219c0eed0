// Entry point of diagpack-dyn: one collection run for dyn.
#include <unistd.h>  // environ

#include "collection_run.hpp"

int main(int argc, char** argv) {
  diagpack::prepare_process();
  return diagpack::create_diagpack(
      diagpack::Component::dyn,
      diagpack::Environment::of_process(argc, argv, environ),
      diagpack::Console{});
}
