#pragma once

// What quillfen-access checks of the process at the other end of a connection before it hands a
// node over, read from that process's /proc entry.

#include <string>
#include <string_view>

#include "access/protocol.h"

namespace helper {

// Whether an environment variable of this name makes the dynamic loader, or a library the program
// loads, load code of the environment's choosing (LD_PRELOAD, LD_LIBRARY_PATH, QT_PLUGIN_PATH,
// GTK_MODULES and the like).
bool loadsCode(std::string_view name);

// Examines the process whose /proc entry is the open directory `proc`: it must run `program`
// (the installed program: the same file, owned by root and writable by no one else), have no
// tracer, be non-dumpable (its /proc files then belong to root, not to its user), hold no
// variable of `loadsCode` in its initial environment, and map code only from files owned by root
// and writable by no one else. Returns `granted` or the first refusal; `failed` when the entry
// cannot be read (the process ended).
protocol::Status examine(int proc, const std::string& program);

}  // namespace helper
