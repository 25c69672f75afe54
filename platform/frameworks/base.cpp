// Core Foundation's objects in the framework double: ownership, strings, numbers, dictionaries,
// sets and the constants; the autorelease pools of the Objective-C runtime; Darwin's uptime clock.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/frameworks/world.h"

namespace frameworks {

World& world() {
  static World instance;
  return instance;
}

void fault(const std::string& what) {
  std::fprintf(stderr, "framework double: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

std::vector<Object*> live(Kind kind) {
  std::vector<Object*> found;
  std::lock_guard hold(world().registry);
  for (const auto& [object, deleter] : world().objects)
    if (object->kind == kind && !object->dead)
      found.push_back(object);
  return found;
}

// Ownership follows Apple's rule (Core Foundation Memory Management Programming Guide): a Create
// or Copy function hands the caller a reference it must release, a Get function does not. CFRelease
// of NULL crashes on a Mac; so does a release too many.
void retain(const Object* object) {
  if (object == nullptr)
    fault("CFRetain(NULL)");
  if (object->immortal)
    return;
  if (object->dead)
    fault("retain of an object that was released for good");
  const_cast<Object*>(object)->count.fetch_add(1);
}

void release(const Object* object) {
  if (object == nullptr)
    fault("CFRelease(NULL)");
  if (object->immortal)
    return;
  auto* mutable_ = const_cast<Object*>(object);
  const long left = mutable_->count.fetch_sub(1) - 1;
  if (left < 0)
    fault("over-release: CFRelease of an object with no reference left");
  if (left > 0)
    return;
  mutable_->dead = true;
  if (mutable_->finalize != nullptr)
    mutable_->finalize(*mutable_);
}

namespace {

const Object& object(CFTypeRef ref, const char* what) {
  if (ref == nullptr)
    fault(std::string(what) + "(NULL)");
  const auto& found = *static_cast<const Object*>(ref);
  if (found.dead)
    fault(std::string(what) + " of an object that was released for good");
  return found;
}

template <class T>
T* immortal(T* object) {
  object->immortal = true;
  return object;
}

String* stringConstant(const char* text) {
  auto* made = new String();
  made->text = text;
  return immortal(made);
}

void releaseDictionary(Object& object) {
  for (const auto& [key, value] : static_cast<Dictionary&>(object).entries) {
    release(key);
    release(value);
  }
}

void releaseSet(Object& object) {
  for (const Object* member : static_cast<Set&>(object).members)
    release(member);
}

// Code units of UTF-16, which CFStringGetLength counts: one per character, two beyond U+FFFF.
CFIndex utf16Length(const std::string& text) {
  CFIndex units = 0;
  for (const unsigned char byte : text) {
    if ((byte & 0xC0) != 0x80)
      ++units;
    if (byte >= 0xF0)
      ++units;
  }
  return units;
}

}  // namespace

const Object* worldString(const std::string& text) {
  auto* made = make<String>();
  made->text = text;
  return made;
}

const Object* worldNumber(std::int64_t value) {
  auto* made = make<Number>();
  made->value = value;
  return made;
}

bool equal(const Object* a, const Object* b) {
  if (a == b)
    return true;
  if (a == nullptr || b == nullptr || a->kind != b->kind)
    return false;
  if (a->kind == Kind::string)
    return static_cast<const String*>(a)->text == static_cast<const String*>(b)->text;
  if (a->kind == Kind::number)
    return static_cast<const Number*>(a)->value == static_cast<const Number*>(b)->value;
  return false;
}

}  // namespace frameworks

using namespace frameworks;

// ---- constants: immortal, as Core Foundation's are

extern "C" {
const CFAllocatorRef kCFAllocatorDefault = nullptr;  // "a synonym for NULL" (CFBase.h)
const CFBooleanRef kCFBooleanTrue = reference<CFBooleanRef>(immortal(new Object(Kind::boolean)));
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {};
const CFRunLoopMode kCFRunLoopDefaultMode =
    reference<CFStringRef>(stringConstant("kCFRunLoopDefaultMode"));
CFStringRef kAXTrustedCheckOptionPrompt =
    reference<CFStringRef>(stringConstant("AXTrustedCheckOptionPrompt"));
}

// ---- CFType

CFTypeRef CFRetain(CFTypeRef cf) {
  retain(static_cast<const Object*>(cf));
  return cf;
}

void CFRelease(CFTypeRef cf) {
  release(static_cast<const Object*>(cf));
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
  return static_cast<CFTypeID>(object(cf, "CFGetTypeID").kind) + 1;
}

// ---- strings: UTF-8 only, the one encoding the program uses

CFTypeID CFStringGetTypeID(void) {
  return static_cast<CFTypeID>(Kind::string) + 1;
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean) {
  if (encoding != kCFStringEncodingUTF8)
    fault("CFStringCreateWithBytes: only UTF-8 is modelled");
  auto* made = make<String>();
  made->text.assign(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(numBytes));
  return reference<CFStringRef>(made);
}

CFIndex CFStringGetLength(CFStringRef theString) {
  return utf16Length(use<String>(theString, Kind::string, "CFStringGetLength").text);
}

// Three bytes of UTF-8 at most for each UTF-16 unit (CF-Lite, CFString.c).
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) {
  if (encoding != kCFStringEncodingUTF8)
    fault("CFStringGetMaximumSizeForEncoding: only UTF-8 is modelled");
  return length * 3;
}

Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding) {
  if (encoding != kCFStringEncodingUTF8)
    fault("CFStringGetCString: only UTF-8 is modelled");
  const auto& text = use<String>(theString, Kind::string, "CFStringGetCString").text;
  // False when the text and its terminating zero do not fit.
  if (static_cast<CFIndex>(text.size()) + 1 > bufferSize)
    return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

// ---- numbers: signed 32- and 64-bit integers

CFTypeID CFNumberGetTypeID(void) {
  return static_cast<CFTypeID>(Kind::number) + 1;
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr) {
  auto* made = make<Number>();
  if (theType == kCFNumberSInt64Type)
    std::memcpy(&made->value, valuePtr, sizeof(std::int64_t));
  else if (theType == kCFNumberSInt32Type)
    made->value = *static_cast<const std::int32_t*>(valuePtr);
  else
    fault("CFNumberCreate: only SInt32 and SInt64 are modelled");
  return reference<CFNumberRef>(made);
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
  const std::int64_t value = use<Number>(number, Kind::number, "CFNumberGetValue").value;
  if (theType == kCFNumberSInt64Type) {
    std::memcpy(valuePtr, &value, sizeof value);
    return true;
  }
  if (theType != kCFNumberSInt32Type)
    fault("CFNumberGetValue: only SInt32 and SInt64 are modelled");
  const auto narrow = static_cast<std::int32_t>(value);
  std::memcpy(valuePtr, &narrow, sizeof narrow);
  return narrow == value;  // false when the conversion lost the value
}

// ---- dictionaries and sets, holding Core Foundation objects

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks) {
  if (keyCallBacks != &kCFTypeDictionaryKeyCallBacks ||
      valueCallBacks != &kCFTypeDictionaryValueCallBacks)
    fault("CFDictionaryCreate: only dictionaries of CF objects are modelled");
  auto* made = make<Dictionary>();
  made->finalize = releaseDictionary;
  for (CFIndex i = 0; i < numValues; ++i) {
    const auto* key = &object(keys[i], "CFDictionaryCreate key");
    const auto* value = &object(values[i], "CFDictionaryCreate value");
    retain(key);
    retain(value);
    made->entries.emplace_back(key, value);
  }
  return reference<CFDictionaryRef>(made);
}

namespace frameworks {

CFSetRef makeSet(const std::vector<const Object*>& members) {
  auto* made = make<Set>();
  made->finalize = releaseSet;
  for (const Object* member : members) {
    retain(member);
    made->members.push_back(member);
  }
  return reference<CFSetRef>(made);
}

}  // namespace frameworks

CFIndex CFSetGetCount(CFSetRef theSet) {
  return static_cast<CFIndex>(use<Set>(theSet, Kind::set, "CFSetGetCount").members.size());
}

void CFSetGetValues(CFSetRef theSet, const void** values) {
  for (const Object* member : use<Set>(theSet, Kind::set, "CFSetGetValues").members)
    *values++ = member;
}

// ---- the Objective-C runtime's autorelease pools (clang's ARC documentation, "runtime support"):
// a pool pops every pool pushed after it; popping one that is not on the thread's stack crashes.

namespace {
thread_local std::vector<std::uintptr_t> pools;
std::atomic<std::uintptr_t> nextPool{1};
}  // namespace

extern "C" void* objc_autoreleasePoolPush(void) {
  pools.push_back(nextPool.fetch_add(1));
  return reinterpret_cast<void*>(pools.back());
}

extern "C" void objc_autoreleasePoolPop(void* pool) {
  const auto token = reinterpret_cast<std::uintptr_t>(pool);
  for (auto at = pools.size(); at-- > 0;) {
    if (pools[at] == token) {
      sim::state().pools.fetch_add(pools.size() - at);
      pools.resize(at);
      return;
    }
  }
  fault("objc_autoreleasePoolPop of a pool that is not on this thread's stack");
}

// ---- the uptime clock: the world's time, which tests move

extern "C" uint64_t clock_gettime_nsec_np(clockid_t clock) {
  if (clock != CLOCK_UPTIME_RAW)
    fault("clock_gettime_nsec_np: only CLOCK_UPTIME_RAW is modelled");
  return static_cast<uint64_t>(sim::state().seconds.load() * 1e9);
}
