#pragma once

#include <array>
#include <cstdint>

// The pedal's report descriptor: a Consumer / Programmable Buttons collection holding three
// Button bits and 13 bits of padding, so its input reports are two bytes long and the kernel
// also makes an evdev node for it.
inline constexpr std::array<std::uint8_t, 29> pedalDescriptorBytes{
    0x05, 0x0C,              // Usage Page (Consumer)
    0x09, 0x03,              // Usage (Programmable Buttons)
    0xA1, 0x01,              // Collection (Application)
    0x05, 0x09,              //   Usage Page (Button)
    0x19, 0x01, 0x29, 0x03,  //   Usage Minimum 1, Usage Maximum 3
    0x15, 0x00, 0x25, 0x01,  //   Logical Minimum 0, Logical Maximum 1
    0x75, 0x01, 0x95, 0x03,  //   Report Size 1, Report Count 3
    0x81, 0x02,              //   Input (Data, Variable, Absolute)
    0x75, 0x0D, 0x95, 0x01,  //   Report Size 13, Report Count 1
    0x81, 0x03,              //   Input (Constant)
    0xC0,                    // End Collection
};
