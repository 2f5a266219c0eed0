// Entry point of diagpack-pkcs11: one collection run for pkcs11.
#include <unistd.h>  // environ

#include "collection_run.hpp"

int main(int argc, char** argv) {
  diagpack::prepare_process();
  return diagpack::create_diagpack(
      diagpack::Component::pkcs11,
      diagpack::Environment::of_process(argc, argv, environ),
      diagpack::Console{});
}
