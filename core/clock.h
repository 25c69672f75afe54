#pragma once

// The program's one clock: monotonic system uptime in milliseconds, with a fractional part.
// Every deadline and timestamp of the program is on this clock.
double milliseconds();

// Replaces the source of uptime seconds that `milliseconds` reads. The default is the system's
// monotonic clock; the simulated platform installs its own so tests can move time. Install it
// before any thread reads the clock.
using UptimeSource = double (*)();
void setUptimeSource(UptimeSource source);
