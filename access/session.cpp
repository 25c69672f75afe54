#include "access/session.h"

#include <systemd/sd-login.h>

#include <cstdlib>

namespace helper {

bool activeLocal(uid_t uid) {
  char** sessions = nullptr;
  const int count = sd_uid_get_sessions(uid, 1, &sessions);  // the active ones
  bool found = false;
  for (int i = 0; i < count && sessions; ++i) {
    char* seat = nullptr;
    found = found || (sd_session_is_active(sessions[i]) > 0 &&
                      sd_session_get_seat(sessions[i], &seat) >= 0 && seat && *seat &&
                      sd_session_is_remote(sessions[i]) == 0);
    std::free(seat);
    std::free(sessions[i]);
  }
  std::free(sessions);
  return found;
}

}  // namespace helper
