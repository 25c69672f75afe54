#include <iostream>

#include "core/selftest.h"

int main(int argc, char** argv) {
  if (wantsSelfTest(argc, argv))
    return runSelfTest(std::cout);

  std::cout << "quillfen: the window is not built yet; only --self-test is available.\n";
  return 2;
}
