#pragma once

#include <sys/types.h>

namespace helper {

// Whether logind knows a session of `uid` that is active, on a seat, and not remote. False where
// logind keeps no record at all.
bool activeLocal(uid_t uid);

}  // namespace helper
