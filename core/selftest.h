#pragma once

#include <ostream>

// Checks the click-guard policy, the decoder and the settings record with fixed inputs and prints
// the PASS line to `out`. Throws Failure::invalid("Policy test failed") at the first wrong result
// and lets errors of the decoder, validation and JSON coding through unchanged.
void selfTest(std::ostream& out);

// True when one of the arguments, the program path included, is exactly "--self-test".
bool wantsSelfTest(int argc, const char* const* argv);

// The command-line branch: runs `check` (normally the self-test) and returns the exit status,
// 0 on success; on any error prints its textual form and a line feed to `out` and returns 1.
using Check = void (*)(std::ostream&);
int runSelfTest(std::ostream& out, Check check = &selfTest);
