// Entry point of diagpack-pkcs11: one collection run for component 2 (pkcs11).
#include <unistd.h>  // environ

#include "collection_run.hpp"

int main(int argc, char** argv) {
  diagpack::prepare_process();
  return diagpack::create_diagpack(
      /*component=*/2, diagpack::Environment::of_process(argc, argv, environ),
      diagpack::Console{});
}
