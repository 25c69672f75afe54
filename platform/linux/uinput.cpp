#include "platform/linux/uinput.h"

#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "platform/linux/inputs.h"

namespace linuxplatform {

namespace {

Opened openUinput() {
  for (const char* path : uinputPaths) {
    Opened fd =
        Nodes::worker().open(protocol::Kind::uinput, path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd)
      return fd;
  }
  return Opened();
}

std::optional<Virtual> create(Opened fd, const uinput_setup& setup, const char* phys) {
  if (ioctl(fd.get(), UI_SET_PHYS, phys) < 0 || ioctl(fd.get(), UI_DEV_SETUP, &setup) < 0 ||
      ioctl(fd.get(), UI_DEV_CREATE) < 0)
    return std::nullopt;
  char sysname[64] = "";
  if (ioctl(fd.get(), UI_GET_SYSNAME(sizeof sysname), sysname) < 0) {
    ioctl(fd.get(), UI_DEV_DESTROY);
    return std::nullopt;
  }
  return Virtual{std::move(fd), sysname};
}

template <std::size_t N>
bool has(const std::array<unsigned long, N>& bits, unsigned bit) {
  constexpr unsigned longBits = 8 * sizeof(unsigned long);
  return bit / longBits < N && (bits[bit / longBits] >> (bit % longBits) & 1) != 0;
}

}  // namespace

bool uinputWritable() {
  // Asked at every pass while actions are active and at every press: the answer is kept while
  // the nodes' access it came from is remembered and unchanged.
  static std::uint64_t keptAt = 0;
  static bool writable = false;
  Inputs& inputs = Inputs::instance();
  if (keptAt != 0 && keptAt == inputs.generation())
    return writable;
  bool kept = true;
  writable = false;
  for (const char* path : uinputPaths) {
    bool remembered = false;
    writable = inputs.accessError(protocol::Kind::uinput, path, W_OK, &remembered) == 0;
    kept = kept && remembered;
    if (writable)
      break;
  }
  keptAt = kept ? inputs.generation() : 0;
  return writable;
}

std::optional<Virtual> createPoster() {
  Opened fd = openUinput();
  if (!fd)
    return std::nullopt;
  bool ok =
      ioctl(fd.get(), UI_SET_EVBIT, EV_KEY) == 0 && ioctl(fd.get(), UI_SET_EVBIT, EV_REL) == 0;
  for (int key : {KEY_SPACE, KEY_ENTER, BTN_LEFT, BTN_RIGHT, BTN_MIDDLE})
    ok = ok && ioctl(fd.get(), UI_SET_KEYBIT, key) == 0;
  for (int key = KEY_F13; key <= KEY_F20; ++key)
    ok = ok && ioctl(fd.get(), UI_SET_KEYBIT, key) == 0;
  for (int axis : {REL_X, REL_Y, REL_WHEEL, REL_WHEEL_HI_RES})
    ok = ok && ioctl(fd.get(), UI_SET_RELBIT, axis) == 0;
  if (!ok)
    return std::nullopt;
  uinput_setup setup{};
  setup.id.bustype = BUS_VIRTUAL;
  std::snprintf(setup.name, sizeof setup.name, "Quillfen virtual keyboard");
  return create(std::move(fd), setup, "quillfen/keyboard");
}

std::optional<Virtual> createClone(int source) {
  Opened fd = openUinput();
  if (!fd)
    return std::nullopt;
  std::array<unsigned long, EV_MAX / (8 * sizeof(unsigned long)) + 1> types{};
  if (ioctl(source, EVIOCGBIT(0, sizeof types), types.data()) < 0)
    return std::nullopt;
  bool ok = true;
  struct Kind {
    unsigned type;
    unsigned max;
    unsigned long request;
  };
  for (const Kind kind :
       {Kind{EV_KEY, KEY_MAX, UI_SET_KEYBIT}, Kind{EV_REL, REL_MAX, UI_SET_RELBIT},
        Kind{EV_ABS, ABS_MAX, UI_SET_ABSBIT}, Kind{EV_MSC, MSC_MAX, UI_SET_MSCBIT}}) {
    if (!has(types, kind.type))
      continue;
    std::array<unsigned long, KEY_MAX / (8 * sizeof(unsigned long)) + 1> codes{};
    if (ioctl(source, EVIOCGBIT(kind.type, sizeof codes), codes.data()) < 0)
      return std::nullopt;
    ok = ok && ioctl(fd.get(), UI_SET_EVBIT, kind.type) == 0;
    for (unsigned code = 0; code <= kind.max; ++code) {
      if (!has(codes, code))
        continue;
      ok = ok && ioctl(fd.get(), kind.request, code) == 0;
      if (kind.type == EV_ABS) {
        uinput_abs_setup axis{};
        axis.code = static_cast<__u16>(code);
        ok = ok && ioctl(source, EVIOCGABS(code), &axis.absinfo) == 0 &&
             ioctl(fd.get(), UI_ABS_SETUP, &axis) == 0;
      }
    }
  }
  std::array<unsigned long, INPUT_PROP_MAX / (8 * sizeof(unsigned long)) + 1> props{};
  if (ioctl(source, EVIOCGPROP(sizeof props), props.data()) >= 0)
    for (unsigned prop = 0; prop <= INPUT_PROP_MAX; ++prop)
      if (has(props, prop))
        ok = ok && ioctl(fd.get(), UI_SET_PROPBIT, prop) == 0;
  if (!ok)
    return std::nullopt;
  uinput_setup setup{};
  if (ioctl(source, EVIOCGID, &setup.id) < 0 ||
      ioctl(source, EVIOCGNAME(sizeof setup.name - 1), setup.name) < 0)
    return std::nullopt;
  return create(std::move(fd), setup, "quillfen/guard");
}

bool emit(const Virtual& device, const input_event* events, std::size_t count) {
  const std::size_t bytes = count * sizeof(input_event);
  return write(device.fd.get(), events, bytes) == static_cast<ssize_t>(bytes);
}

void destroy(Virtual& device) {
  if (device.fd)
    ioctl(device.fd.get(), UI_DEV_DESTROY);
  device.fd.reset();
}

}  // namespace linuxplatform
