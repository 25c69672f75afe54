#include "core/policy.h"

void Policy::clear() {
  until = 0;
  sequences.clear();
}

void Policy::arm(double now) {
  if (scope == "off")
    return;
  until = now + window;
}

bool Policy::reject(std::int64_t button, bool down, double now) {
  if (scope == "off")
    return false;

  auto entry = sequences.find(button);
  if (entry != sequences.end() && now >= entry->second.expires) {
    sequences.erase(entry);
    entry = sequences.end();
  }

  if (!down) {
    if (entry == sequences.end())
      return false;
    const bool blocked = entry->second.blocked;
    sequences.erase(entry);
    return blocked;
  }

  // A second down without an up repeats the first verdict and keeps its expiry.
  if (entry != sequences.end())
    return entry->second.blocked;

  const bool covered = scope == "all" || button == 1;
  const bool blocked = now < until && covered;
  sequences.emplace(button, Sequence{blocked, now + lifetime});
  return blocked;
}
