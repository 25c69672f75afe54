// Must not compile: IOMasterPort is deprecated on macOS 12 and later.
#include <IOKit/IOKitLib.h>

int main() {
  mach_port_t port = MACH_PORT_NULL;
  return IOMasterPort(MACH_PORT_NULL, &port);
}
