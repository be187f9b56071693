// Surface formats of the kernel 3D engine: the module-wide capability table
// (which usages the chip accepts for each format, with the hardware code and
// conversion parameters of each pair), filled once at load; the format
// descriptors every surface points at; and the board's catalogue of them,
// built by the first device object of the board and shared by the others.
// The catalogue also translates the client interface's format numbers, and
// the descriptors convert colours between their pixel layout and ARGB.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/heap_object.h"

class PDEV;

// Usages: each is also the index of a record of a surface's hardware
// descriptor. Usages 6 and 8 are two further views a few formats have,
// laid out as the surface's own (kUsageSurface).
inline constexpr uint32_t kUsageSurface = 0;       // engine fills and copies
inline constexpr uint32_t kUsageRenderTarget = 1;
inline constexpr uint32_t kUsageTexture = 2;
inline constexpr uint32_t kUsageTextureSigned = 3;
inline constexpr uint32_t kUsageDepthStencil = 4;
inline constexpr uint32_t kUsageCpuView = 5;
inline constexpr uint32_t kUsageSurfaceB = 6;
inline constexpr uint32_t kUsageMemoryView = 7;    // allocation size and alignment
inline constexpr uint32_t kUsageSurfaceC = 8;
inline constexpr uint32_t kUsageCount = 9;

// Format codes run 1 to 46 (20 is never used).
inline constexpr uint32_t kFormatCodeLimit = 47;
inline constexpr uint32_t kCapabilityRoom = 400;
inline constexpr uint32_t kCapabilityEntries = 224;
inline constexpr uint32_t kCatalogueDescriptors = 45;

// Format classes.
inline constexpr uint32_t kClassBlockCompressed = 1;
inline constexpr uint32_t kClassColour = 2;
inline constexpr uint32_t kClassDepth = 3;
inline constexpr uint32_t kClassVideo = 7;

// Descriptor flags.
inline constexpr uint32_t kFormatAgpAllowed = 0x1;
inline constexpr uint32_t kFormatFlagBit1 = 0x2;

// One entry of the capability table: a (format, usage) pair the chip
// accepts.
struct FormatCapability {
  uint32_t usageClassBits;
  uint32_t format;
  uint32_t usage;
  uint32_t hardwareCode;
  uint8_t swap;      // red and blue exchanged by the conversions
  uint8_t isSigned;  // channels stored signed: the conversions flip each top bit
  uint8_t noAlpha;   // render target whose top bits carry no alpha
  uint32_t p1;       // texture parameters (usages 2 and 3)
  uint32_t p2;
  uint8_t p3;
  uint8_t p4;
  uint32_t extra;

  // Clears the class word, stores the fields and derives the usage class
  // bits from the usage.
  void Set(uint32_t formatCode, uint32_t usageIndex, uint32_t hardware, uint8_t swapFlag,
           uint8_t signedFlag, uint8_t noAlphaFlag, uint32_t param1, uint32_t param2,
           uint8_t param3, uint8_t param4, uint32_t extraWord);
};
static_assert(offsetof(FormatCapability, swap) == 16);
static_assert(offsetof(FormatCapability, p1) == 20);
static_assert(offsetof(FormatCapability, extra) == 32);

// The usage class byte of a usage: 0x24 for 0, 1, 4, 6, 8; 0x10 for 2, 3;
// 0x2B for 5, 7.
uint32_t UsageClassBits(uint32_t usage);

// Fills the module-wide table at load; a later load finds it filled.
void InitFormatCapabilityTable();
// The filled entries (the table is never emptied).
uint32_t FormatCapabilityCount();
const FormatCapability* FormatCapabilityAt(uint32_t index);
// The entry of the pair, null when the chip does not accept it.
const FormatCapability* FindFormatCapability(uint32_t format, uint32_t usage);
// The class of a code (0 for codes that name no format).
uint32_t FormatClassOf(uint32_t code);

// Channels, in the order of the descriptor's masks and shifts.
enum FormatChannel : uint32_t {
  kChannelRed, kChannelGreen, kChannelBlue, kChannelAlpha, kChannelLuminance,
  kChannelV, kChannelU, kChannelDepth, kChannelStencil, kChannelExtra,
  kChannelCount
};

struct FormatDescriptor : OsHeapObject {
  // A new descriptor of the code: its class, flags 1, masks, shifts and
  // capabilities; the builder stores the bits per pixel.
  FormatDescriptor(uint32_t formatCode, const char* formatName);
  // A copy of another descriptor made over for the code: flags and bits per
  // pixel are the source's.
  FormatDescriptor(const FormatDescriptor& source, uint32_t formatCode, const char* formatName);

  void SetChannelMasks();
  void BindCapabilities();

  // The pixel in ARGB; false (out untouched) for a format without the
  // conversion or without an entry for the usage.
  bool ExpandToArgb(uint32_t* out, uint32_t pixel, uint32_t usage) const;
  // The ARGB colour as the texture unit takes it for this format; false
  // (out untouched) for a format without the conversion.
  bool ToTextureUnitColour(uint32_t* out, uint32_t argb) const;

  uint32_t code;
  uint32_t formatClass;
  const char* name;
  uint32_t flags;
  uint32_t bitsPerPixel = 0;
  const FormatCapability* capabilities[kUsageCount];
  uint32_t masks[kChannelCount];
  uint32_t shifts[kChannelCount];
};

static_assert(offsetof(FormatDescriptor, code) == 0);
static_assert(offsetof(FormatDescriptor, name) == 8);
static_assert(offsetof(FormatDescriptor, bitsPerPixel) == 20);
static_assert(offsetof(FormatDescriptor, capabilities) == 24);
static_assert(offsetof(FormatDescriptor, masks) == 96);
static_assert(offsetof(FormatDescriptor, shifts) == 136);

class FormatCatalogue : public OsHeapObject {
 public:
  FormatCatalogue() = default;
  ~FormatCatalogue() { Clear(); }
  FormatCatalogue(const FormatCatalogue&) = delete;
  FormatCatalogue& operator=(const FormatCatalogue&) = delete;

  // Builds the 45 descriptors in order; false at the first that cannot be
  // made (what was made stays until Clear).
  bool Build();
  // Appends; false when the catalogue is full.
  bool Add(FormatDescriptor* descriptor);
  void Clear();

  FormatDescriptor* Find(uint32_t code) const;
  FormatDescriptor* FindByClientFormat(uint32_t clientNumber) const;
  static uint32_t ClientFormatToCode(uint32_t clientNumber);
  static uint32_t ToClientFormat(uint32_t code);

  uint32_t Count() const { return count_; }
  FormatDescriptor* At(uint32_t index) const { return index < count_ ? descriptors_[index] : nullptr; }

 private:
  FormatDescriptor* descriptors_[kFormatCodeLimit] = {};
  uint32_t count_ = 0;
  // The first descriptor of each code, so a lookup is one index.
  FormatDescriptor* byCode_[kFormatCodeLimit] = {};
};

// Component entry 16: the board's first device object builds the catalogue,
// every device object keeps its pointer; the last one frees it.
bool InitFormatCatalogue(PDEV* pdev);
void CleanupFormatCatalogue(PDEV* pdev);
