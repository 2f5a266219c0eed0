// Entry point of diagpack-jce: one collection run for jce.
#include <unistd.h>  // environ

#include "collection_run.hpp"

int main(int argc, char** argv) {
  diagpack::prepare_process();
  return diagpack::create_diagpack(
      diagpack::Component::jce,
      diagpack::Environment::of_process(argc, argv, environ),
      diagpack::Console{});
}
