// The X driver's requests of the device node that the kernel core serves:
// each takes the calling file's client, the request code and the argument
// (the caller's record address, or the value itself for 21 to 23). Results
// are 0 or a negative errno, except 20, which answers 1 or 0.
#pragma once

#include <stdint.h>

struct CommonData;
struct KernelClient;

// 20: builds a device object for the caller with its mode record.
int IoctlEnableDevice(KernelClient* client, uint32_t code, unsigned long argument);
// 21: destroys a device object the caller enabled.
int IoctlDisableDevice(KernelClient* client, uint32_t code, unsigned long handle);
// 22: starts it.
int IoctlStartDevice(KernelClient* client, uint32_t code, unsigned long handle);
// 23: stops the started device object of a unit.
int IoctlStopDevice(KernelClient* client, uint32_t code, unsigned long unit);
// 24: a host-aperture window (kind 1) or a surface of video memory; 25
// frees one the caller owns; 26: a heap of the board and its memory; 28:
// the caller's surface becomes a device object's primary surface, with one
// of the caller's windows as its aperture clone.
int IoctlAllocBlockMemory(KernelClient* client, uint32_t code, unsigned long argument);
int IoctlFreeBlockMemory(KernelClient* client, uint32_t code, unsigned long argument);
int IoctlGetLocalMemoryInfo(KernelClient* client, uint32_t code, unsigned long argument);
int IoctlSetPrimarySurface(KernelClient* client, uint32_t code, unsigned long argument);
// 27: submits the caller's 24-byte post record to the board's primary stream.
int IoctlPostBusmasteringBuffer(KernelClient* client, uint32_t code, unsigned long argument);
// 29: {event kind, source, enable, post slot}: the periodic post of a
// vertical-blank source on or off. Sources 0 and 1, and 2 (interrupt source
// 3) where register 7620 has bit 3; event kinds 2, 0x10000000, 0x20000000.
int IoctlSetVSyncInterruptState(KernelClient* client, uint32_t code, unsigned long argument);
inline constexpr uint32_t kVSyncEventPost = 2;
inline constexpr uint32_t kVSyncEventKindA = 0x10000000;
inline constexpr uint32_t kVSyncEventKindB = 0x20000000;

// Whether the engine may run [start, end) of a post (flag bits in the low
// bits) for the client: the range lies inside memory the kernel handed to
// it (a surface block it allocated, locked pages the glue gave its file),
// in the memory space the end's flags name. Any process may open the node,
// so nothing else is run for it.
bool ClientOwnsDmaRange(KernelClient* client, uint32_t start, uint32_t end);
// The same for the periodic post, whose ranges come from the Shared locked
// data: the range lies in memory of a client that enabled a device object
// of the board.
bool BoardClientOwnsDmaRange(CommonData* common, uint32_t start, uint32_t end);
// Device objects a board ring is walked for at most (four units per board).
inline constexpr uint32_t kMaxDeviceObjects = 64;

inline constexpr int kErrnoFault = -14;
inline constexpr int kErrnoNoMemory = -12;
inline constexpr int kErrnoInvalid = -22;
inline constexpr int kErrnoDeviceBusy = -16;
