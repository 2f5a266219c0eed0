// Entry point of diagpack-cli: one collection run for cli.
#include <unistd.h>  // environ

#include "collection_run.hpp"

int main(int argc, char** argv) {
  diagpack::prepare_process();
  return diagpack::create_diagpack(
      diagpack::Component::cli,
      diagpack::Environment::of_process(argc, argv, environ),
      diagpack::Console{});
}
