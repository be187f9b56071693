#include "tools/lib/pci.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/lib/File.h"
#include "tools/lib/Log.h"

namespace {

constexpr const char* kProcPciDir = "/proc/bus/pci";
constexpr size_t kLineSize = 512;
constexpr size_t kMaxPathLength = 4095;

[[noreturn]] void Fail() { std::exit(1); }

void ReadConfigHeader(const std::string& dir, PciDeviceRecord* rec) {
  char name[32];
  std::snprintf(name, sizeof name, "/%02x/%02x.%d", rec->bus, rec->device, rec->function);
  std::string path = dir + name;
  if (path.size() > kMaxPathLength) {
    ErrorF("ProcSetup:File name too long\n");
    Fail();
  }
  // One read of the 64 bytes wanted: a buffered stream would make the
  // kernel read a whole block of configuration space for each device.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    ErrorF("ProcSetup:Cannot open %s\n", path.c_str());
    Fail();
  }
  ssize_t got;
  do {
    got = read(fd, rec->config, kPciConfigHeaderSize);
  } while (got < 0 && errno == EINTR);
  const int readError = errno;
  close(fd);
  if (got != kPciConfigHeaderSize) {
    if (got < 0) ErrorF("proc_read: read failed: %s\n", std::strerror(readError));
    ErrorF("Unable to read the standard configuration space header\n");
    Fail();
  }
}

}  // namespace

PciDeviceList* PciAlloc() { return new PciDeviceList(nullptr); }

void PciScan(PciDeviceList* head) {
  std::string dir = SysRootPath(kProcPciDir);
  std::string devices = dir + "/devices";
  if (devices.size() > kMaxPathLength) {
    ErrorF("PciScan:File name too long\n");
    Fail();
  }
  FILE* f = std::fopen(devices.c_str(), "r");
  if (!f) {
    ErrorF("PciScan:Cannot open %s\n", devices.c_str());
    Fail();
  }
  char line[kLineSize];
  while (std::fgets(line, sizeof line, f)) {
    unsigned int busDevFn = 0, vendorDevice = 0;
    unsigned long irq = 0, base[6] = {}, rom = 0, size[7] = {};
    int n = std::sscanf(line,
                        "%x %x %lx %08lx %08lx %08lx %08lx %08lx %08lx %08lx %08lx %08lx "
                        "%08lx %08lx %08lx %08lx %08lx",
                        &busDevFn, &vendorDevice, &irq, &base[0], &base[1], &base[2], &base[3],
                        &base[4], &base[5], &rom, &size[0], &size[1], &size[2], &size[3],
                        &size[4], &size[5], &size[6]);
    if (n != 9 && n != 10 && n != 17) {
      ErrorF("PciScan: parse error (read only %d items)\n", n < 0 ? 0 : n);
      std::fclose(f);
      Fail();
    }
    auto* rec = new PciDeviceRecord{};
    rec->config = new uint8_t[kPciConfigHeaderSize]();
    rec->bus = uint8_t(busDevFn >> 8);
    rec->device = uint8_t((busDevFn & 0xFF) >> 3);
    rec->function = uint8_t(busDevFn & 7);
    rec->vendorDevice = vendorDevice;
    rec->vendorId = uint16_t(vendorDevice >> 16);
    rec->interrupt = irq;
    std::memcpy(rec->baseAddress, base, sizeof base);
    rec->romBase = rom;
    std::memcpy(rec->size, size, sizeof size);
    // Linked before the configuration read, so the record is reachable
    // whatever happens next.
    rec->next = *head;
    *head = rec;
    ReadConfigHeader(dir, rec);
    rec->classWord = GetConfUINT16(rec, kPciConfigClassOffset);
    rec->subsysVendorId = GetConfUINT16(rec, kPciConfigSubsysVendorOffset);
    rec->subsysId = GetConfUINT16(rec, kPciConfigSubsysIdOffset);
  }
  std::fclose(f);
}

void PciCleanup(PciDeviceList* head) {
  if (!head) return;
  PciDeviceRecord* rec = *head;
  while (rec) {
    PciDeviceRecord* next = rec->next;
    delete[] rec->config;
    delete rec;
    rec = next;
  }
  delete head;
}

uint16_t GetConfUINT16(const PciDeviceRecord* record, int offset) {
  if (!record || !record->config || offset < 0 || offset + 2 > kPciConfigHeaderSize) return 0;
  return uint16_t(record->config[offset] | (record->config[offset + 1] << 8));
}
