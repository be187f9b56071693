#include "core/lnx_device.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include "core/client_services.h"
#include "core/common_data.h"
#include "core/pdev.h"
#include "platform/xserver/xservices.h"

namespace {

constexpr int kProcDevicesLine = 255;   // 254 characters and the terminator
constexpr int kProcModulesLine = 4096;  // 4,095 characters and the terminator
constexpr char kProcDevices[] = "/proc/devices";
constexpr char kProcModules[] = "/proc/modules";
constexpr char kDevMem[] = "/dev/mem";

// The page mask is asked of the X server once per process.
uintptr_t PageMask() {
  static uintptr_t mask = 0;
  if (mask == 0) mask = static_cast<uintptr_t>(xf86getpagesize()) - 1;
  return mask;
}

size_t PageLength(uint32_t size) {
  const uintptr_t mask = PageMask();
  return (static_cast<size_t>(size) + mask) & ~mask;
}

bool Contains(const char* text, const char* part) { return strstr(text, part) != nullptr; }

}  // namespace

// ---- LnxDevice ----------------------------------------------------------------

LnxDevice::LnxDevice(uint32_t minorNumber) : minor(minorNumber) {}

LnxDevice::~LnxDevice() {
  // Nobody can close the descriptor once the device is gone, however many
  // opens are still counted.
  if (openCount > 1) openCount = 1;
  if (openCount != 0) Close();
}

bool LnxDevice::CountOpen() { return openCount++ == 0; }

uint64_t LnxDevice::DeviceNumber(uint32_t majorNumber, uint32_t minorNumber) {
  const uint64_t ma = majorNumber;
  const uint64_t mi = minorNumber;
  return ((ma & 0xFFF) << 8) | (mi & 0xFF) | ((mi & 0xFFFFFF00) << 12) |
         ((ma & 0xFFFFF000) << 32);
}

bool LnxDevice::Open() {
  if (!CountOpen()) return true;

  char path[64];
  snprintf(path, sizeof(path), "%s/%s%u", kOrvDeviceDir, kOrvNodePrefix, minor);

  if (major == 0 && !LnxGetMajorDeviceNumber(&major)) return false;
  const uint64_t device = DeviceNumber(major, minor);

  errno = 0;
  struct stat info;
  if (xf86stat(path, &info) != 0 || static_cast<uint64_t>(info.st_rdev) != device) {
    if (errno != ENOENT) {
      xf86remove(path);
      xf86mkdir(kOrvDeviceDir, kOrvDirMode);
    }
    if (xf86mknod(path, nodeMode, static_cast<dev_t>(device)) != 0) {
      // The directory may be missing as well: create it and try once more.
      if (errno != ENOENT || xf86mkdir(kOrvDeviceDir, kOrvDirMode) != 0 ||
          xf86mknod(path, nodeMode, static_cast<dev_t>(device)) != 0) {
        return false;
      }
    }
  }
  xf86chmod(path, nodeMode);
  fd = xf86open(path, O_RDWR);
  return fd >= 0;
}

void LnxDevice::Close() {
  if (openCount <= 0) return;
  if (--openCount == 0 && fd >= 0) {
    xf86close(fd);
    fd = -1;
  }
}

int LnxDevice::Ioctl(uint32_t code, void* buffer, uint32_t size) {
  if (buffer != nullptr) {
    if (OrvIocDirection(code) == 0 || OrvIocSize(code) != size) return -1;
  }
  return xf86ioctl(fd, code, buffer);
}

void* LnxDevice::Map(uint64_t offset, uint32_t size) {
  void* address = xf86mmap(nullptr, PageLength(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                           static_cast<off_t>(offset));
  return address == MAP_FAILED ? nullptr : address;
}

void LnxDevice::Unmap(void* address, uint32_t size) { xf86munmap(address, PageLength(size)); }

void* LnxDevice::AllocateBuffer(orv_ioctl_buffer& buffer) {
  buffer.offset = 0;
  if (Ioctl(ORV_IOCTL_ALLOC_BUFFER, &buffer, sizeof(buffer)) != 0) return nullptr;
  void* address = Map(buffer.offset, buffer.size);
  // A buffer that cannot be mapped is given back: the caller sees only the
  // failure and would never free it.
  if (address == nullptr) Ioctl(ORV_IOCTL_FREE_BUFFER, &buffer, sizeof(buffer));
  return address;
}

bool LnxDevice::FreeBuffer(void* address, orv_ioctl_buffer& buffer) {
  Unmap(address, buffer.size);
  return Ioctl(ORV_IOCTL_FREE_BUFFER, &buffer, sizeof(buffer)) == 0;
}

bool LnxDevice::StartHead(PDEV* pdev, uint64_t kernelHandle) {
  // The handle travels as the argument itself.
  void* argument = reinterpret_cast<void*>(static_cast<uintptr_t>(kernelHandle));
  if (Ioctl(ORV_IOCTL_START_DEVICE, argument, OrvIocSize(ORV_IOCTL_START_DEVICE)) != 0) {
    return false;
  }
  started = pdev;
  return true;
}

bool LnxDevice::StopHead(uint32_t unit) {
  if (started == nullptr) return true;
  void* argument = reinterpret_cast<void*>(static_cast<uintptr_t>(unit));
  return Ioctl(ORV_IOCTL_STOP_DEVICE, argument, OrvIocSize(ORV_IOCTL_STOP_DEVICE)) == 0;
}

uint32_t LnxDevice::GetMinor(uint32_t bus, uint32_t device, uint32_t function, bool local) {
  if (!local) {
    LnxDevice* probe = new (std::nothrow) LnxDevice(0);
    if (probe != nullptr) {
      OrvMinorRequest request = {bus, device, function, kMinorUnknown};
      if (probe->Open()) {
        if (probe->Ioctl(ORV_IOCTL_GET_MINOR, &request, sizeof(request)) != 0) {
          request.minor = kMinorUnknown;
        }
      }
      probe->Close();
      delete probe;
      if (request.minor != kMinorUnknown) return request.minor;
    }
  }
  return pciGetHandle(bus, device, function);
}

// ---- EmulatedLnxDevice ----------------------------------------------------------

EmulatedLnxDevice::EmulatedLnxDevice(uint32_t minorNumber) : LnxDevice(minorNumber) {
  modeWord = kModeWord;
}

EmulatedLnxDevice::~EmulatedLnxDevice() = default;

bool EmulatedLnxDevice::Open() {
  if (!CountOpen()) return true;
  fd = xf86open(kDevMem, O_RDWR);
  return fd >= 0;
}

int EmulatedLnxDevice::Ioctl(uint32_t code, void*, uint32_t) {
  if (code == ORV_IOCTL_ENABLE_DEVICE) return kIocEnableOk;
  // No named parameters without the kernel module: every switch keeps its
  // default.
  if (code == ORV_IOCTL_PARAMETER) return -1;
  return 0;
}

void* EmulatedLnxDevice::AllocateBuffer(orv_ioctl_buffer&) { return nullptr; }

bool EmulatedLnxDevice::FreeBuffer(void*, orv_ioctl_buffer&) { return false; }

// ---- Helpers -------------------------------------------------------------------

bool LnxLoadKernelModule(const char* name) { return xf86LoadKernelModule(name) != 0; }

bool LnxGetMajorDeviceNumber(uint32_t* majorNumber) {
  if (majorNumber == nullptr) return false;
  *majorNumber = 0;
  FILE* file = xf86fopen(kProcDevices, "r");
  if (file == nullptr) return false;
  char line[kProcDevicesLine];
  bool found = false;
  while (!found && xf86fgets(line, sizeof(line), file) != nullptr) {
    // Only a line that also yields a number counts; a name alone would give
    // major 0.
    if (Contains(line, kOrvNodePrefix) && xf86sscanf(line, "%u", majorNumber) == 1) found = true;
  }
  xf86fclose(file);
  if (!found) *majorNumber = 0;
  return found;
}

bool LnxIsModuleLoaded() {
  FILE* file = xf86fopen(kProcModules, "r");
  if (file == nullptr) return false;
  char* line = static_cast<char*>(xalloc(kProcModulesLine));
  bool loaded = false;
  while (line != nullptr && !loaded && xf86fgets(line, kProcModulesLine, file) != nullptr) {
    const size_t skip = strspn(line, " \t");
    char* token = line + skip;
    token[strcspn(token, " \t")] = '\0';
    loaded = Contains(token, kOrvModuleName);
  }
  xfree(line);
  xf86fclose(file);
  return loaded;
}

void LnxGetParameterName(const char* section, const char* key, char* out) {
  if (out == nullptr) return;
  const char* prefix = "";
  if (section != nullptr) {
    switch (section[0]) {
      case '3':
      case 'O':
        prefix = "reg3D";
        break;
      case 'D':
        prefix = "sw";
        break;
      case 'S':
        prefix = "regSys";
        break;
      default:
        break;
    }
  }
  size_t length = strlen(prefix);
  memcpy(out, prefix, length);
  const size_t room = kParameterNameMax - length;
  size_t copied = 0;
  if (key != nullptr) {
    while (copied < room && key[copied] != '\0') ++copied;
    memcpy(out + length, key, copied);
  }
  out[length + copied] = '\0';
}

// ---- Device table ------------------------------------------------------------------

LnxDeviceTable::~LnxDeviceTable() {
  for (auto it = devices_.begin(); it != devices_.end(); ++it) delete it->second;
}

bool LnxDeviceTable::Prepare() {
  struct stat info;
  if (xf86stat(kOrvDeviceDir, &info) != 0) xf86mkdir(kOrvDeviceDir, kOrvDirMode);
  if (LnxIsModuleLoaded()) return true;
  // The X driver's binding logs the fall-back to local DMA with its screen.
  return LnxLoadKernelModule(kOrvModuleName);
}

LnxDevice* LnxDeviceTable::Find(uint32_t minorNumber) {
  auto it = devices_.find(minorNumber);
  return it == devices_.end() ? nullptr : it->second;
}

LnxDevice* LnxDeviceTable::Acquire(uint32_t minorNumber, bool local) {
  LnxDevice* device = Find(minorNumber);
  if (device != nullptr) {
    device->Open();
    return device;
  }
  if (local) {
    device = new (std::nothrow) EmulatedLnxDevice(minorNumber);
  } else {
    device = new (std::nothrow) LnxDevice(minorNumber);
  }
  if (device == nullptr) return nullptr;
  auto inserted = devices_.insert({minorNumber, device});
  if (!inserted.second) {
    delete device;
    return nullptr;
  }
  if (!device->Open()) {
    devices_.erase(inserted.first);
    delete device;
    return nullptr;
  }
  return device;
}

void LnxDeviceTable::Release(LnxDevice* device) {
  if (device == nullptr) return;
  device->Close();
  if (device->openCount != 0) return;
  auto it = devices_.find(device->minor);
  if (it != devices_.end() && it->second == device) devices_.erase(it);
  delete device;
}

bool LnxDevice::Start(PDEV* pdev) { return StartHead(pdev, pdev->kernelHandle); }

bool LnxDevice::Stop(PDEV* pdev) { return StopHead(pdev->unit); }
