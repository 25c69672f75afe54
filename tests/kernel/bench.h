#pragma once

// The peers benchmark of the kernel test's guest and the programs it runs as tools.

namespace kerneltest {

// The benchmark itself: prints its figures and the table; 0 when every round completed.
int bench();
// Quillfen as the benchmark runs it: captures the pedal whose uhid descriptor it inherited,
// learns it, activates Space on the left pedal without a click guard, says READY and keeps the
// heartbeat until killed.
int serve(int uhid);
// The filter between interception-tools' reader and writer: the pedal's button 0 becomes Space.
int filter();
// The floor: one process that blocks on the grabbed node and writes one uinput event per change.
int floorProgram(const char* node);

}  // namespace kerneltest
