#pragma once

// A property a fuzz target checks: a violation traps, and libFuzzer keeps the input as a finding.
inline void require(bool ok) {
  if (!ok)
    __builtin_trap();
}
