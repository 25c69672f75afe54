#pragma once

// Controls of the framework double beyond the simulated world's (platform/sim/sim.h), for tests
// of what only Apple's frameworks show.

#include <cstdint>

namespace frameworks {

// How often the program asked the privacy service (TCC) for Input Monitoring, a round trip each.
std::uint64_t privacyChecks();

}  // namespace frameworks
