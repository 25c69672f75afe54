#include <iostream>

#include "core/selftest.h"

#ifdef QUILLFEN_WINDOW
#include "app/app.h"
#endif

int main(int argc, char** argv) {
  if (wantsSelfTest(argc, argv))
    return runSelfTest(std::cout);

#ifdef QUILLFEN_WINDOW
  return runWindow(argc, argv);
#else
  std::cout << "quillfen: the window is not built on this system; only --self-test is available.\n";
  return 2;
#endif
}
