// Must not link: IOKit exports no such function.
#include <IOKit/hid/IOHIDDevice.h>

extern "C" void IOHIDDeviceSeize(IOHIDDeviceRef device);

int main() {
  IOHIDDeviceSeize(nullptr);
  return 0;
}
