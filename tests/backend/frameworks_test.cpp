// What only Apple's frameworks show: scenarios of platform/macos over the framework double that
// the simulated platform cannot tell apart, and the double's own refusals, without which the
// scenarios would pass over faults that crash on a Mac.

#include "platform/frameworks/frameworks.h"
#include "harness.h"
#include "platform/frameworks/apple.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

extern "C" void objc_autoreleasePoolPop(void* pool);

namespace {

using namespace harness;

using Frameworks = Scenario;

TEST_F(Frameworks, PassesAskThePrivacyServiceNothing) {
  isolated();
  const auto asked = frameworks::privacyChecks();
  passes(10);
  EXPECT_EQ(frameworks::privacyChecks(), asked)
      << "a round trip to the privacy service in every pass holds the clicks the tap waits on";
}

// A plugged pedal's device, from a manager of this thread, scheduled on its run loop and open.
IOHIDDeviceRef openPedal(std::uint64_t* id = nullptr) {
  const auto plugged = sim::plug();
  if (id != nullptr)
    *id = plugged;
  IOHIDManagerRef manager = IOHIDManagerCreate(kCFAllocatorDefault, 0);
  IOHIDManagerSetDeviceMatching(manager, nullptr);
  CFSetRef devices = IOHIDManagerCopyDevices(manager);
  const void* device = nullptr;
  CFSetGetValues(devices, &device);
  auto* pedal = static_cast<IOHIDDeviceRef>(const_cast<void*>(device));
  IOHIDDeviceScheduleWithRunLoop(pedal, CFRunLoopGetCurrent(), kCFRunLoopDefaultMode);
  IOHIDDeviceOpen(pedal, kIOHIDOptionsTypeSeizeDevice);
  return pedal;
}

CFStringRef text(const std::string& value = "x") {
  return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(value.data()),
                                 static_cast<CFIndex>(value.size()), kCFStringEncodingUTF8, false);
}

TEST(FrameworkRules, WhatCrashesOnAMacFailsTheTest) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  sim::reset();
  const std::pair<const char*, std::function<void()>> misuses[] = {
      {"over-release",
       [] {
         CFStringRef once = text();
         CFRelease(once);
         CFRelease(once);
       }},
      {"a leak",
       [] {
         text();
         sim::reset();
       }},
      {"released for good",
       [] {
         // A Get function's result belongs to its owner: releasing it takes the owner's.
         CFTypeRef product = IOHIDDeviceGetProperty(openPedal(), text("Product"));
         CFRelease(product);
         CFGetTypeID(product);
       }},
      {"changed while it was being called back",
       [] {
         static std::uint8_t report[64];
         std::uint64_t id;
         IOHIDDeviceRegisterInputReportCallback(
             openPedal(&id), report, 64,
             [](void* context, IOReturn, void* sender, IOHIDReportType, uint32_t, uint8_t*,
                CFIndex) {
               IOHIDDeviceRegisterInputReportCallback(static_cast<IOHIDDeviceRef>(sender), report,
                                                      64, nullptr, context);
             },
             report);
         sim::deliver(id, {0, 0});
         CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1, true);
       }},
      {"from a thread other than",
       [] {
         IOHIDDeviceRef pedal = openPedal();
         std::thread([pedal] { IOHIDDeviceClose(pedal, 0); }).join();
       }},
      {"not on this thread's stack",
       [] {
         static int never;
         objc_autoreleasePoolPop(&never);
       }},
  };
  for (const auto& [says, misuse] : misuses)
    EXPECT_DEATH(misuse(), says) << says;
}

// A stop ends the run it comes in, from any thread; one that comes between runs is lost, as on a
// Mac (CF-Lite keeps it in the run's own data). So there a command waits for the next 20 ms pass
// at worst, and nothing may count on a stop being kept.
TEST(FrameworkRules, AStopEndsOnlyTheRunItComesIn) {
  sim::reset();
  IOHIDManagerRef manager = IOHIDManagerCreate(kCFAllocatorDefault, 0);
  IOHIDManagerSetDeviceMatching(manager, nullptr);
  CFRunLoopRef loop = CFRunLoopGetCurrent();
  IOHIDManagerScheduleWithRunLoop(manager, loop, kCFRunLoopDefaultMode);
  const auto seconds = [](const std::function<CFRunLoopRunResult()>& run, CFRunLoopRunResult want) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run(), want);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };

  CFRunLoopStop(loop);
  EXPECT_GE(seconds([] { return CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, true); },
                    kCFRunLoopRunTimedOut),
            0.04);
  // Stopped again and again from another thread until the run has seen one.
  std::atomic<bool> returned = false;
  std::thread stopper([loop, &returned] {
    while (!returned) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      CFRunLoopStop(loop);
    }
  });
  EXPECT_LT(seconds([] { return CFRunLoopRunInMode(kCFRunLoopDefaultMode, 5, true); },
                    kCFRunLoopRunStopped),
            2.0);
  returned = true;
  stopper.join();

  IOHIDManagerUnscheduleFromRunLoop(manager, loop, kCFRunLoopDefaultMode);
  CFRelease(manager);
  sim::reset();
}

}  // namespace
