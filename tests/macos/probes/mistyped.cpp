// Must not compile: the registry entry ID is unsigned.
#include <IOKit/IOKitLib.h>

#include <cstdint>

int main() {
  std::int64_t id = 0;
  return IORegistryEntryGetRegistryEntryID(IO_OBJECT_NULL, &id);
}
