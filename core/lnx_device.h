// The process's handle of one board's device node, /dev/orvane/orv<minor>,
// and its stand-in for local-DMA mode (no kernel module), which answers the
// requests itself over /dev/mem.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/ioc_request_mgr.h"
#include "core/orv_ioctl.h"
#include "core/otl_map.h"

class PDEV;
class IDriver;
struct CommonData;

inline constexpr const char kOrvDeviceDir[] = "/dev/orvane";
inline constexpr const char kOrvNodePrefix[] = "orv";
inline constexpr const char kOrvModuleName[] = "orv";
inline constexpr uint32_t kOrvNodeMode = 0x21B6;  // character device, 0666
inline constexpr uint32_t kOrvDirMode = 0755;

// One of the board's common buffers (common data, common locked block,
// shared data, shared locked data, in that order).
struct LnxBufferRecord {
  void* address = nullptr;  // null while absent
  uint64_t offset = 0;      // map offset; 0 for process memory
  uint32_t size = 0;
  uint8_t kind1 = 0;        // obtained as kind 1 from the kernel module
};
inline constexpr int kLnxBufferCount = 4;

class LnxDevice {
 public:
  explicit LnxDevice(uint32_t minor);
  virtual ~LnxDevice();
  LnxDevice(const LnxDevice&) = delete;
  LnxDevice& operator=(const LnxDevice&) = delete;

  virtual bool Open();
  // The request's answer, or -1 when refused without a system call.
  virtual int Ioctl(uint32_t code, void* buffer, uint32_t size);
  // Mapped address of a buffer the kernel module allocates, or null.
  virtual void* AllocateBuffer(orv_ioctl_buffer& buffer);
  virtual bool FreeBuffer(void* address, orv_ioctl_buffer& buffer);

  void Close();
  void* Map(uint64_t offset, uint32_t size);
  void Unmap(void* address, uint32_t size);

  // Start and stop a head, over the two helpers below.
  bool Start(PDEV* pdev);
  bool Stop(PDEV* pdev);
  bool StartHead(PDEV* pdev, uint64_t kernelHandle);
  bool StopHead(uint32_t unit);

  // Minor of the board at a PCI location; falls back to the PCI handle.
  static uint32_t GetMinor(uint32_t bus, uint32_t device, uint32_t function, bool local);

  // The device number of the node, as the kernel encodes it.
  static uint64_t DeviceNumber(uint32_t major, uint32_t minor);

  int32_t openCount = 0;
  uint32_t major = 0;
  uint32_t minor;
  uint32_t nodeMode = kOrvNodeMode;
  int32_t fd = -1;
  uint32_t reserved = 0;
  PDEV* started = nullptr;
  uint32_t modeWord = 0;  // non-zero: local DMA
  LnxBufferRecord buffers[kLnxBufferCount];

 protected:
  bool CountOpen();  // true when this was the first open
};

class EmulatedLnxDevice : public LnxDevice {
 public:
  static constexpr uint32_t kModeWord = 2;
  explicit EmulatedLnxDevice(uint32_t minor);
  ~EmulatedLnxDevice() override;

  bool Open() override;
  int Ioctl(uint32_t code, void* buffer, uint32_t size) override;
  void* AllocateBuffer(orv_ioctl_buffer& buffer) override;
  bool FreeBuffer(void* address, orv_ioctl_buffer& buffer) override;
};

bool LnxLoadKernelModule(const char* name);
bool LnxGetMajorDeviceNumber(uint32_t* major);
bool LnxIsModuleLoaded();
// Writes the parameter name (at most kParameterNameMax characters and the
// terminator) into out, which holds at least 50 bytes; nothing when out is null.
void LnxGetParameterName(const char* section, const char* key, char* out);

// The X driver's table of open devices, one per minor, shared by the heads of
// a board.
class LnxDeviceTable {
 public:
  LnxDeviceTable() = default;
  ~LnxDeviceTable();
  LnxDeviceTable(const LnxDeviceTable&) = delete;
  LnxDeviceTable& operator=(const LnxDeviceTable&) = delete;

  // Creates the device directory when missing and loads the kernel module
  // unless it is loaded; false means local DMA.
  static bool Prepare();
  // The opened device for the minor, created when absent; null when it cannot
  // be created or opened (a new device is then dropped again).
  LnxDevice* Acquire(uint32_t minor, bool local);
  // Closes the device once; the last close drops it from the table.
  void Release(LnxDevice* device);
  LnxDevice* Find(uint32_t minor);
  size_t Size() const { return devices_.size(); }

 private:
  Otl::Map<unsigned int, LnxDevice*> devices_;
};
