// The PCI functions of the system, as the kernel lists them under
// /proc/bus/pci (taken below the system root).
#pragma once

#include <cstdint>

constexpr uint16_t kPciClassVga = 0x0300;
constexpr int kPciConfigHeaderSize = 64;
constexpr int kPciConfigClassOffset = 10;
constexpr int kPciConfigSubsysVendorOffset = 44;
constexpr int kPciConfigSubsysIdOffset = 46;

struct PciDeviceRecord {
  PciDeviceRecord* next;
  uint8_t bus;
  uint8_t device;
  uint8_t function;
  uint16_t vendorId;
  uint32_t vendorDevice;  // vendor in the upper half
  unsigned long interrupt;
  unsigned long baseAddress[6];
  unsigned long romBase;
  unsigned long size[7];
  uint16_t classWord;
  uint16_t subsysVendorId;
  uint16_t subsysId;
  uint8_t* config;  // the first 64 bytes of configuration space
};

// A list is held through a heap cell that points to its first record.
using PciDeviceList = PciDeviceRecord*;

PciDeviceList* PciAlloc();
// Fills the list, newest record first. Failures print a message and end the
// process with status 1.
void PciScan(PciDeviceList* head);
void PciCleanup(PciDeviceList* head);
// The little-endian 16-bit value at `offset` of the record's configuration
// bytes; 0 past the 64 bytes read.
uint16_t GetConfUINT16(const PciDeviceRecord* record, int offset);
