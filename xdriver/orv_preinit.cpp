// Screen pre-initialisation: everything a head needs decided before the
// server initialises its screen — resources, apertures, video memory, the
// board's hardware library, the monitor's EDID, the options, bus mastering,
// rotation, digital outputs, the clock range and the mode lists of the
// single, merged, rotated, three-head, four-head and TV desktops, the mode
// record and the off-screen budget.
#include "xdriver/orv_preinit.h"

#include <string.h>

#include "core/chip_ids.h"
#include "core/client_services.h"
#include "core/pci_config.h"
#include "core/register_guard.h"
#include "core/regs/pci.h"
#include "platform/xserver/vgahw.h"
#include "platform/xserver/xf86_edid.h"
#include "platform/xserver/xf86_server.h"
#include "xdriver/orv_driver.h"
#include "xdriver/orv_features.h"
#include "xdriver/orv_kstrn.h"
#include "xdriver/orv_modeinit.h"
#include "xdriver/orv_multihead.h"
#include "xdriver/orv_options.h"
#include "xdriver/orv_pci.h"
#include "xdriver/orv_register.h"
#include "xdriver/orv_regs.h"

namespace {

constexpr int kMinClock = 12000;            // kHz
constexpr int kDualLinkMaxClock = 270000;   // kHz
constexpr int kMaxVirtual = 0xFFFF;
constexpr int kMinPitch = 256;
constexpr int kMinHeight = 256;
// 256 MB boards validate their modes against 255 MB.
constexpr int kVideoRam256MB = 262144;
constexpr int kVideoRamValidated = 261120;
constexpr int kDefaultVideoRam = 65536;
constexpr int kVideoRamByCode[4] = {32768, 65536, 131072, 262144};
constexpr uint32_t kOffscreenReserve = 8u << 20;  // bytes the budget leaves alone
constexpr int kS4ISmallMemory = 65536;            // kB
constexpr float kMaxOffscreen = 5.0f;
constexpr float kDefaultOffscreen = 0.5f;
// The bridge in front of some 0x5D63 boards: device 0xE110 of vendor 0x12D8.
constexpr uint32_t kVideoBridgeId = 0xE11012D8;
constexpr uint32_t kFbAddressMask = 0xFE000000;
constexpr uint32_t kBiosAddressMask = 0xFFFF0000;
constexpr unsigned long kLegacyBios = 0xC0000;
constexpr uint32_t kHardwareInfoWords = 5;

const char* kVgaHwSymbols[] = {"vgaHWGetHWRec", "vgaHWUnlock", "vgaHWInit", "vgaHWProtect",
                               "vgaHWSetMmioFuncs", "vgaHWGetIOBase", "vgaHWMapMem",
                               "vgaHWLock", "vgaHWFreeHWRec", "vgaHWSaveScreen",
                               "vgaHWSave", "vgaHWRestore", "vgaHWGetIndex", nullptr};
const char* kDdcSymbols[] = {"xf86PrintEDID", "xf86SetDDCproperties", "xf86InterpretEDID",
                             nullptr};
const char* kXaaSymbols[] = {"XAACreateInfoRec", "XAADestroyInfoRec", "XAAInit",
                             "XAAFillSolidRects", nullptr};
const char* kInt10Symbols[] = {"xf86InitInt10", "xf86FreeInt10", "xf86ExecX86int10", nullptr};
const char* kFbSymbols[] = {"fbPictureInit", "fbScreenInit", nullptr};
const char* kShadowSymbols[] = {"ShadowFBInit", nullptr};

bool Option(const ORVRec* rec, int token, bool fallback) {
  return xf86ReturnOptValBool(rec->pOptions, token, fallback ? TRUE : FALSE) != 0;
}

bool EdidValid(const uint8_t* edid) {
  static const uint8_t kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  if (memcmp(edid, kHeader, sizeof(kHeader)) != 0) return false;
  uint8_t sum = 0;
  for (int i = 0; i < 128; ++i) sum = static_cast<uint8_t>(sum + edid[i]);
  return sum == 0;
}

// Whether a configured address is one of the board's PCI ranges.
bool MatchesPciBase(const pciVideoRec* pci, unsigned long address) {
  for (unsigned long base : pci->memBase) {
    if (base != 0 && base == address) return true;
  }
  return false;
}

// A byte copy of the screen record with its own zeroed driver record.
ScrnInfoPtr MakeAuxScreen(ScrnInfoPtr screen, const ORVRec* rec) {
  auto* aux = static_cast<ScrnInfoPtr>(xalloc(sizeof(ScrnInfoRec)));
  if (aux == nullptr) return nullptr;
  memcpy(aux, screen, sizeof(ScrnInfoRec));
  aux->driverPrivate = nullptr;
  aux->modes = aux->currentMode = nullptr;
  if (!ORVGetRec(aux)) {
    xfree(aux);
    return nullptr;
  }
  ORVPTR(aux)->head = rec->head;
  return aux;
}

DisplayModePtr CopyMode(const DisplayModeRec* source) {
  auto* mode = static_cast<DisplayModePtr>(xalloc(sizeof(DisplayModeRec)));
  const char* name = source->name != nullptr ? source->name : "";
  const size_t n = strlen(name) + 1;
  char* copy = static_cast<char*>(xalloc(n));
  auto* priv = static_cast<OrvModePrivate*>(xcalloc(1, sizeof(OrvModePrivate)));
  auto* refs = static_cast<DisplayModePtr*>(xcalloc(1, sizeof(DisplayModePtr)));
  if (mode == nullptr || copy == nullptr || priv == nullptr || refs == nullptr) {
    xfree(mode);
    xfree(copy);
    xfree(priv);
    xfree(refs);
    return nullptr;
  }
  memcpy(copy, name, n);
  *mode = *source;
  mode->name = copy;
  mode->prev = mode->next = nullptr;
  refs[0] = const_cast<DisplayModePtr>(source);
  priv->source = refs;
  mode->PrivSize = 0;
  mode->Private = reinterpret_cast<INT32*>(priv);
  return mode;
}

DisplayModePtr BuildMode(const DisplayModeRec* source, OrvModeKind kind, int width, int height) {
  DisplayModePtr mode = CopyMode(source);
  if (mode == nullptr) return nullptr;
  OrvModePriv(mode)->kind = kind;
  mode->HDisplay = width;
  mode->VDisplay = height;
  return mode;
}

// Shrinks a video memory of 256 MB for the time of mode validation.
int ValidatedVideoRam(int kB) { return kB == kVideoRam256MB ? kVideoRamValidated : kB; }

int ValidateScreenModes(ScrnInfoPtr screen, ClockRangePtr clocks) {
  const int bytesPerPixel = screen->bitsPerPixel / 8;
  const int pitchInc = screen->bitsPerPixel * kOrvPitchIncrement[bytesPerPixel - 1];
  const int saved = screen->videoRam;
  screen->videoRam = ValidatedVideoRam(saved);
  DispPtr display = screen->display;
  const int n = xf86ValidateModes(screen, screen->monitor->Modes,
                                  display != nullptr ? display->modes : nullptr, clocks, nullptr,
                                  kMinPitch, kMaxVirtual, pitchInc, kMinHeight, kMaxVirtual,
                                  display != nullptr ? display->virtualX : 0,
                                  display != nullptr ? display->virtualY : 0,
                                  screen->videoRam * 1024, LOOKUP_BEST_REFRESH);
  screen->videoRam = saved;
  return n;
}

// Monitor2Position by its first letter.
int PositionCode(const char* text) {
  if (text == nullptr) return kPositionRightOf;
  switch (text[0]) {
    case 'A': case 'H': case 'a': case 'h': return kPositionAbove;
    case 'B': case 'b': return kPositionBelow;
    case 'C': case 'c': return kPositionClone;
    case 'G': case 'L': case 'g': case 'l': return kPositionLeftOf;
    default: return kPositionRightOf;
  }
}

// Doubles the virtual width and the current mode's width.
void DoubleWidth(ScrnInfoPtr screen) {
  screen->virtualX *= 2;
  if (screen->currentMode != nullptr) screen->currentMode->HDisplay *= 2;
}

}  // namespace

Bool ORVSetDepth(ScrnInfoPtr screen) {
  if (!xf86SetDepthBpp(screen, 8, 8, 8, Support32bppFb)) return FALSE;
  switch (screen->depth) {
    case 8:
    case 16:
    case 24:
    case 30:
      break;
    default:
      xf86DrvMsg(screen->scrnIndex, X_ERROR, "Given depth (%d) is not supported by %s driver\n",
                 screen->depth, ORV_DRIVER_NAME);
      return FALSE;
  }
  xf86PrintDepthBpp(screen);
  return xf86SetDefaultVisual(screen, -1);
}

Bool ORVMapMem(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  const PCITAG tag = rec->pEnt->pciTag;
  if (rec->ioBase == nullptr) {
    rec->ioBase = static_cast<uint8_t*>(xf86MapPciMem(screen->scrnIndex, VIDMEM_MMIO, tag,
                                                      rec->ioPhysAddress,
                                                      kOrvRegisterApertureSize));
    if (rec->ioBase == nullptr) {
      xf86DrvMsg(screen->scrnIndex, X_ERROR, "ORVMapMem: IOBase == NULL\n");
      return FALSE;
    }
  }
  if (rec->fbBase == nullptr) {
    rec->fbBase = static_cast<uint8_t*>(xf86MapPciMem(screen->scrnIndex, VIDMEM_FRAMEBUFFER, tag,
                                                      rec->fbPhysAddress,
                                                      static_cast<unsigned long>(screen->videoRam) * 1024));
    if (rec->fbBase == nullptr) {
      xf86DrvMsg(screen->scrnIndex, X_ERROR, "ORVMapMem: FbBase == NULL\n");
      return FALSE;
    }
  }
  return TRUE;
}

void ORVUnmapMem(ScrnInfoPtr screen) {
  // Each head maps the apertures for itself, so each unmaps its own.
  ORVRec* rec = ORVPTR(screen);
  if (rec->ioBase != nullptr) xf86UnMapVidMem(screen->scrnIndex, rec->ioBase, kOrvRegisterApertureSize);
  if (rec->fbBase != nullptr)
    xf86UnMapVidMem(screen->scrnIndex, rec->fbBase, static_cast<unsigned long>(screen->videoRam) * 1024);
  rec->ioBase = nullptr;
  rec->fbBase = nullptr;
}

Bool ORVGetVGA(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  const int entity = screen->entityList[0];
  const bool primaryHead = rec->head == 0 && xf86IsEntityPrimary(entity);
  if (Option(rec, OPTION_MVGA, false)) {
    rec->backupQuery = 1;
    rec->primaryVga = primaryHead ? 1 : 0;
    return TRUE;
  }
  if (!primaryHead) {
    rec->backupQuery = 1;
    rec->primaryVga = 0;
    return TRUE;
  }
  rec->primaryVga = 1;
  if (xf86LoadSubModule(screen, "int10") == nullptr) {
    xf86DrvMsg(screen->scrnIndex, X_ERROR, "Loading int10 module failed!\n");
    return FALSE;
  }
  xf86DrvMsg(screen->scrnIndex, X_INFO, "Initializing int10\n");
  rec->pInt10 = xf86InitInt10(entity);
  xf86LoaderReqSymLists(kInt10Symbols, nullptr);
  if (!ORVGetConsoleMode(screen)) {
    xf86DrvMsg(screen->scrnIndex, X_ERROR, "Unable to query console mode!\n");
    xf86DrvMsg(screen->scrnIndex, X_INFO, "Disabling int10!\n");
    if (rec->pInt10 != nullptr) xf86FreeInt10(rec->pInt10);
    rec->pInt10 = nullptr;
    xf86DrvMsg(screen->scrnIndex, X_INFO, "Switching to backup query mode!\n");
    rec->backupQuery = 1;
  }
  return TRUE;
}

Bool ORVOpenBoard(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  ORVEntityRec* entity = rec->pEnt;
  if (xf86IsEntityShared(screen->entityList[0]) && entity->pBoard != nullptr) {
    ++entity->boardOpenCount;
  } else {
    if (rec->head == 0 && !entity->initialised && !ORVGetVGA(screen)) return FALSE;
    auto* client = static_cast<ORVClientRecord*>(xcalloc(1, sizeof(ORVClientRecord)));
    auto* board = static_cast<BOARDHANDLE*>(xcalloc(1, ORVGetBOARDHANDLESize()));
    auto* info = static_cast<uint32_t*>(xcalloc(kHardwareInfoWords, sizeof(uint32_t)));
    if (client == nullptr || board == nullptr || info == nullptr) {
      xfree(client);
      xfree(board);
      xfree(info);
      return FALSE;
    }
    client->pciHandle = entity->pciTag;
    client->registers = rec->ioBase;
    client->frameBuffer = rec->fbBase;
    const uint32_t status = ORVOpenLibrary(board, client);
    if (HalFailed(status)) {
      xf86DrvMsg(screen->scrnIndex, X_ERROR, "Cannot open the board, error code 0x%08x.\n", status);
      xfree(client);
      xfree(board);
      xfree(info);
      return FALSE;
    }
    ORVInitKstHardware(board);
    ORVGetHardwareInfo(board, info);
    entity->pClient = client;
    entity->pBoard = board;
    entity->pHwInfo = info;
    entity->boardOpenCount = 1;
    OrvNoteBoardOpen(board);
  }
  rec->pClient = entity->pClient;
  rec->pBoard = entity->pBoard;
  rec->pHwInfo = entity->pHwInfo;
  rec->quadBoard = ORVIsQuadBoard(rec->pBoard) ? 1 : 0;
  if (rec->quadBoard) {
    rec->invertedQuad = ORVQuadChrontelInversion(rec->pBoard) ? 1 : 0;
    if (rec->invertedQuad) xf86DrvMsg(screen->scrnIndex, X_INFO, "Inverted Quad Board\n");
  }
  rec->maxOutputs = static_cast<int32_t>(ORVGetMaxOutputs(rec->pBoard)) - 1;
  return TRUE;
}

void ORVCloseBoard(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  ORVEntityRec* entity = rec->pEnt;
  if (entity == nullptr || entity->pBoard == nullptr) return;
  if (entity->boardOpenCount > 0) --entity->boardOpenCount;
  if (entity->boardOpenCount == 0) {
    OrvNoteBoardClosed(entity->pBoard);
    ORVCloseLibrary(entity->pBoard);
    xfree(entity->pClient);
    xfree(entity->pBoard);
    xfree(entity->pHwInfo);
    entity->pClient = entity->pBoard = nullptr;
    entity->pHwInfo = nullptr;
  }
  rec->pClient = nullptr;
  rec->pBoard = nullptr;
  rec->pHwInfo = nullptr;
}

void ORVCheckVideoBridge(ORVRec* rec, Bool check) {
  rec->videoBridge = 1;
  if (rec->pBridgeStatus == nullptr && rec->pEnt != nullptr) {
    rec->pBridgeStatus = &rec->pEnt->bridgeStatus;
    RegGuardForget(rec->pBridgeStatus);
  }
  if (!check) return;
  rec->videoBridge = 0;
  const pciVideoRec* pci = rec->pEnt != nullptr ? rec->pEnt->pPci : nullptr;
  const int chip = rec->chipId != 0 ? rec->chipId : (pci != nullptr ? pci->chipType : 0);
  if (chip == kDeviceKestrionNext3 && pci != nullptr &&
      pciFindVideoBridge(static_cast<uint32_t>(pci->bus), kVideoBridgeId))
    rec->videoBridge = 1;
}

void ORVDisableAcceleration(ORVRec* rec) {
  rec->noAccel = 1;
  rec->busMastering = kBusMasteringLocal;
  rec->hwCursor = 0;
  if (rec->hwRotate != 0) {
    if (rec->shadowRotate == 0) rec->shadowRotate = rec->hwRotate;
    rec->hwRotate = 0;
  }
  if (rec->shadowRotate != 0) rec->shadowFB = 1;
}

Bool ORVComputeOffscreen(ScrnInfoPtr screen, uint32_t screenBytes, float value) {
  ORVRec* rec = ORVPTR(screen);
  ORVEntityRec* entity = rec->pEnt;
  const uint64_t half = static_cast<uint64_t>(screen->videoRam / 2) * 1024;
  uint64_t budget = half > kOffscreenReserve ? half - kOffscreenReserve : 0;
  if (rec->s4i) budget /= 4;
  else if (rec->s3i) budget /= 3;
  else if (xf86IsEntityShared(screen->entityList[0])) budget /= 2;
  // The fraction is kept: the default is half a screen.
  if (value < 0) value = 0;
  if (value > kMaxOffscreen) value = kMaxOffscreen;
  rec->offScreen = value;
  uint64_t size = static_cast<uint64_t>(screenBytes * (1.0 + value));
  if (size > budget) {
    xf86DrvMsg(screen->scrnIndex, X_WARNING, "Forcing Offscreen to 0.\n");
    size = screenBytes;
  }
  // The heads take their memory from what the board has left; a head that
  // would need more than is left is refused, never wrapped around.
  if (size > budget || size >= entity->offscreenBudget) {
    xf86DrvMsg(screen->scrnIndex, X_ERROR, "Unable to allocate memory resource.\n");
    return FALSE;
  }
  rec->fbMemSize = static_cast<uint32_t>(size);
  entity->offscreenBudget -= static_cast<uint32_t>(size);
  if (size <= static_cast<uint64_t>(screen->videoRam) * 1024) {
    xf86DrvMsg(screen->scrnIndex, X_INFO, "Total Memory for Onscreen and Offscreen : 0x%x\n",
               rec->fbMemSize);
    xf86DrvMsg(screen->scrnIndex, X_INFO, "Cursor Offset at 0x%08lx\n",
               static_cast<unsigned long>(rec->cursorOffset));
    xf86DrvMsg(screen->scrnIndex, X_INFO, "Cursor Aperture at 0x%08lx\n", rec->cursorAperture);
    return TRUE;
  }
  xf86DrvMsg(screen->scrnIndex, X_ERROR, "Requested memory greater than max size.\n");
  return FALSE;
}

DisplayModePtr OrvPreInitModes_GenerateRotatedMode(ScrnInfoPtr, DisplayModePtr mode) {
  return BuildMode(mode, kModeRotated, mode->VDisplay, mode->HDisplay);
}

DisplayModePtr OrvPreInitModes_GenerateSpanthreeMode(ScrnInfoPtr screen, DisplayModePtr mode) {
  const DisplayModeRec* current = screen->currentMode != nullptr ? screen->currentMode : mode;
  return BuildMode(mode, kModeThreeHead, 3 * current->HDisplay, current->VDisplay);
}

DisplayModePtr OrvPreInitModes_GenerateSpanfourMode(ScrnInfoPtr screen, DisplayModePtr mode) {
  const DisplayModeRec* current = screen->currentMode != nullptr ? screen->currentMode : mode;
  return BuildMode(mode, kModeFourHead, 4 * current->HDisplay, current->VDisplay);
}

Bool OrvPreInitModes_GenerateFeaturedModes(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  DisplayModePtr old = screen->modes;
  if (old == nullptr) return FALSE;
  DisplayModePtr first = nullptr, last = nullptr;
  for (DisplayModePtr m = old;;) {
    DisplayModePtr built = rec->spanthree  ? OrvPreInitModes_GenerateSpanthreeMode(screen, m)
                           : rec->spanfour ? OrvPreInitModes_GenerateSpanfourMode(screen, m)
                                           : OrvPreInitModes_GenerateRotatedMode(screen, m);
    if (built == nullptr) {
      // Give back what was built; the old list stays the screen's.
      for (DisplayModePtr b = first; b != nullptr;) {
        DisplayModePtr next = b->next;
        xfree(OrvModePriv(b)->source);
        xfree(b->Private);
        xfree(b->name);
        xfree(b);
        b = next;
      }
      return FALSE;
    }
    if (first == nullptr) {
      first = built;
    } else {
      last->next = built;
      built->prev = last;
    }
    last = built;
    m = m->next;
    if (m == nullptr || m == old) break;
  }
  last->next = first;
  first->prev = last;
  rec->savedModes = old;
  screen->modes = first;
  screen->currentMode = first;
  return TRUE;
}

namespace {

// What the phases of PreInit share about the head being brought up.
struct PreInitHead {
  ScrnInfoPtr screen;
  int index;                        // the server's screen index, for messages
  ORVRec* rec = nullptr;
  ORVRec* second = nullptr;         // the merged desktop's second head
  int entityIndex = 0;
  ORVEntityRec* entity = nullptr;
  pciVideoPtr pci = nullptr;
  int32_t rotation = 0;             // the Rotate option, until the desktop takes it
};

// The head's records: its own, and the three auxiliary screens of the
// merged, three-head and four-head desktops.
bool CreateRecords(PreInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  if (!ORVGetRec(screen)) return false;
  ORVRec* rec = h.rec = ORVPTR(screen);
  rec->deviceStarted = 0;
  rec->s3i = rec->s4i = 0;
  rec->consoleMode = 0xFFFF;
  rec->head = screen->entityInstanceList[0];
  for (ScrnInfoPtr& aux : rec->aux) {
    if (aux == nullptr) aux = MakeAuxScreen(screen, rec);
    if (aux == nullptr) return false;
  }
  h.second = ORVPTR(rec->aux[0]);
  return true;
}

// The board's entity, shared with the other heads; its first head takes the
// entity's information, the device section, the VGA layer and the PCI
// identity, sets the legacy ranges aside and installs the PCI access
// callbacks. The head's index picks its AdjustFrame hook.
bool TakeEntityAndPci(PreInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  if (screen->numEntities != 1) return false;
  const int entityIndex = h.entityIndex = screen->entityList[0];
  ORVEntityRec* entity = h.entity = ORVEntityOf(entityIndex);
  if (entity == nullptr) return false;
  rec->pEnt = entity;
  for (ScrnInfoPtr aux : rec->aux) ORVPTR(aux)->pEnt = entity;
  ORVCheckVideoBridge(rec, FALSE);

  if (!entity->initialised) {
    EntityInfoPtr info = xf86GetEntityInfo(entityIndex);
    if (info == nullptr) return false;
    if (info->location.type != BUS_PCI) {
      xfree(info);
      return false;
    }
    xfree(entity->pEntityInfo);
    entity->pEntityInfo = info;
  }
  if (entity->pEntityInfo == nullptr) return false;

  rec->pDevSection = xf86GetDevFromEntity(entityIndex, rec->head);
  if (rec->pDevSection == nullptr) return false;
  if (xf86LoadSubModule(screen, "vgahw") == nullptr) return false;
  xf86LoaderReqSymLists(kVgaHwSymbols, nullptr);
  if (!vgaHWGetHWRec(screen)) return false;

  pciVideoPtr pci = h.pci = xf86GetPciInfoForEntity(entityIndex);
  if (pci == nullptr) return false;
  entity->pPci = pci;
  entity->pciTag = pciTag(pci->bus, pci->device, pci->func);
  rec->primaryPci = xf86IsPrimaryPci(pci) ? 1 : 0;

  // Legacy VGA ranges are left alone while the server runs.
  xf86SetOperatingState(resVgaIo, entityIndex, ResUnusedOpr);
  xf86SetOperatingState(resVgaMem, entityIndex, ResDisableOpr);
  if (!entity->initialised) ORVPreInitPciAccessDisable(entity, entity->pEntityInfo, screen);

  // A merged desktop takes the board's second head.
  if (screen->confScreen != nullptr) screen->monitor = screen->confScreen->monitor;
  if (entity->initialised && entity->heads[0] != nullptr &&
      ORVPTR(entity->heads[0]) != nullptr && ORVPTR(entity->heads[0])->merged)
    return false;

  static const xf86AdjustFrameProc kAdjustFrame[kOrvMaxHeads] = {
      ORVAdjustFrame, ORVAdjustFrameCrtc2, ORVAdjustFrameCrtc3, ORVAdjustFrameCrtc4};
  if (rec->head < 0 || rec->head >= kOrvMaxHeads) return false;
  rec->head2 = rec->head == 1;
  rec->head3 = rec->head == 2;
  rec->head4 = rec->head == 3;
  entity->heads[rec->head] = screen;
  screen->AdjustFrame = kAdjustFrame[rec->head];
  return true;
}

// The frame buffer, the register aperture and the BIOS, from the device
// section or the PCI configuration; then the entity's resources.
bool FindApertures(PreInitHead& h) {
  ORVRec* rec = h.rec;
  const int index = h.index;
  const pciVideoRec* pci = h.pci;
  const GDevPtr dev = rec->pDevSection;

  // A frame-buffer base beyond 32 bits cannot be used as one.
  MessageType from = X_PROBED;
  if (dev->MemBase != 0) {
    if (!MatchesPciBase(pci, dev->MemBase)) {
      xf86DrvMsg(index, X_ERROR, "MemBase 0x%08lX does not match any PCI base register.\n",
                 dev->MemBase);
      return false;
    }
    rec->fbPhysAddress = dev->MemBase;
    from = X_CONFIG;
  } else if (pci->memBase[0] != 0 && pci->memBase[0] <= 0xFFFFFFFFul) {
    rec->fbPhysAddress = pci->memBase[0] & kFbAddressMask;
  } else {
    rec->fbPhysAddress = 0;
  }
  if (rec->fbPhysAddress == 0) {
    xf86DrvMsg(index, X_ERROR, "No valid FB address in PCI config space\n");
    return false;
  }
  xf86DrvMsg(index, from, "Linear framebuffer at 0x%X\n", static_cast<unsigned>(rec->fbPhysAddress));

  // Behind a 64-bit frame-buffer range the registers are the third base
  // register.
  from = X_PROBED;
  if (dev->IOBase != 0) {
    if (!MatchesPciBase(pci, dev->IOBase)) {
      xf86DrvMsg(index, X_ERROR, "IOBase 0x%08lX doesn't match any PCI base register.\n",
                 dev->IOBase);
      return false;
    }
    rec->ioPhysAddress = dev->IOBase;
    from = X_CONFIG;
  } else {
    const PCITAG tag = h.entity->pciTag;
    uint32_t bar0 = 0, bar = 0, upper = 0;
    csReadDword(tag, kCfgBar0, &bar0);
    const uint32_t offset = (bar0 & kBarTypeMask) == kBarType64 ? kCfgBar2 : kCfgBar1;
    csReadDword(tag, offset, &bar);
    if ((bar & kBarTypeMask) == kBarType64) csReadDword(tag, offset + 4, &upper);
    rec->ioPhysAddress = upper == 0 ? (bar & ~0xFu) : 0;
  }
  if (rec->ioPhysAddress < 16) {
    xf86DrvMsg(index, X_ERROR, "No valid MMIO address in PCI config space\n");
    return false;
  }
  xf86DrvMsg(index, from, "MMIO registers at 0x%X\n", static_cast<unsigned>(rec->ioPhysAddress));

  if (dev->BiosBase != 0) rec->biosAddress = dev->BiosBase;
  else if (pci->biosBase != 0) rec->biosAddress = pci->biosBase & kBiosAddressMask;
  else rec->biosAddress = rec->primaryPci ? kLegacyBios : 0;
  xf86DrvMsg(index, X_INFO, "BIOS at 0x%X\n", static_cast<unsigned>(rec->biosAddress));

  if (xf86RegisterResources(h.entityIndex, nullptr, ResExclusive) != nullptr) return false;
  ORVGetDeviceName(h.screen);
  return true;
}

// The video memory's size (the entity's off-screen budget on its first
// head), the mapped apertures and the depth of both screens.
bool SizeAndMapMemory(PreInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  ORVEntityRec* entity = h.entity;
  const int index = h.index;
  const GDevPtr dev = rec->pDevSection;

  MessageType from = X_PROBED;
  int videoRam = 0;
  if (dev->videoRam != 0) {
    videoRam = dev->videoRam;
    from = X_CONFIG;
  } else {
    uint32_t options = 0;
    csReadDword(entity->pciTag, kCfgChipOptions, &options);
    videoRam = kVideoRamByCode[options & kChipOptionsLowBits];
  }
  if (videoRam <= 0) {
    videoRam = kDefaultVideoRam;
    xf86DrvMsg(index, X_WARNING, "Assuming VideoRAM to be %d kByte\n", videoRam);
  }
  screen->videoRam = videoRam;
  rec->aux[0]->videoRam = videoRam;
  if (!entity->initialised) {
    const uint64_t half = static_cast<uint64_t>(videoRam / 2) * 1024;
    entity->offscreenBudget = half > kOffscreenReserve ? static_cast<uint32_t>(half - kOffscreenReserve) : 0;
  }
  xf86DrvMsg(index, from, "Total Video RAM: %d kByte\n", videoRam);
  entity->videoMemBytes = static_cast<uint32_t>(videoRam) * 1024u;

  if (!ORVMapMem(screen)) return false;
  if (!ORVSetDepth(screen) || !ORVSetDepth(rec->aux[0])) return false;
  if (screen->depth > 8) {
    const rgb zeros = {0, 0, 0};
    if (!xf86SetWeight(screen, zeros, zeros)) return false;
    xf86SetWeight(rec->aux[0], zeros, zeros);
  }
  screen->rgbBits = screen->depth == 30 ? 10 : 8;
  return true;
}

// The head's private copy of the option table, and the options that only
// shape the output: TV scaling and packed pixels.
bool ProcessOptions(PreInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  xf86CollectOptions(screen, nullptr);
  rec->pOptions = static_cast<OptionInfoPtr>(xalloc(sizeof(ORVOptions)));
  if (rec->pOptions == nullptr) return false;
  memcpy(rec->pOptions, ORVOptions, sizeof(ORVOptions));
  xf86ProcessOptions(h.index, screen->options, rec->pOptions);
  ORVCheckVideoBridge(rec, TRUE);

  if (const char* scaling = xf86GetOptValString(rec->pOptions, OPTION_TVSCALING)) {
    if (xf86NameCmp(scaling, "UNDERSCAN") == 0) rec->tvScaling = 1;
    else if (xf86NameCmp(scaling, "OVERSCAN") == 0) rec->tvScaling = 3;
  }
  rec->packedPixel = Option(rec, OPTION_PACKED_PIXEL, false);
  int packedType = 1;
  xf86GetOptValInteger(rec->pOptions, OPTION_PACKED_PIXEL_TYPE, &packedType);
  rec->packedPixelType = packedType < 1 ? 1 : packedType > 3 ? 3 : packedType;
  return true;
}

// Reads the EDID of the head's output; a valid block gives the monitor's
// maximum pixel clock and becomes the monitor's DDC record. Without the ddc
// module or a valid block the head goes on without one.
void ReadMonitorEdid(PreInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  const int index = h.index;
  uint8_t edid[128] = {};
  xf86MonPtr monitorInfo = nullptr;
  if (xf86LoadSubModule(screen, "ddc") == nullptr) {
    xf86DrvMsg(index, X_ERROR, "Unable to load ddc module.\n");
  } else {
    xf86LoaderReqSymLists(kDdcSymbols, nullptr);
    if (rec->head > 3) {
      xf86DrvMsg(index, X_INFO, "Instance index out of range!\n");
    } else {
      const uint32_t output = rec->quadBoard && rec->head == 1 ? 2 : static_cast<uint32_t>(rec->head);
      ORVGetMonitorEDID(rec->pBoard, edid, output);
      if (!EdidValid(edid)) {
        xf86DrvMsg(index, X_INFO, "Raw edid data invalid\n");
      } else {
        monitorInfo = xf86InterpretEDID(index, edid);
        xf86DrvMsg(index, X_INFO, "ORV Monitor info: %p\n", static_cast<void*>(monitorInfo));
        if (monitorInfo != nullptr) {
          for (const detailed_monitor_section& d : monitorInfo->det_mon) {
            if (d.type == DS_RANGES) rec->monitorMaxClock = d.section.ranges.max_clock * 1000;
          }
          xf86PrintEDID(monitorInfo);
          xf86SetDDCproperties(screen, monitorInfo);
        } else {
          xf86DrvMsg(index, X_INFO, "EDID information unavailable\n");
        }
        xf86DrvMsg(index, X_INFO, "end of ORV Monitor info\n");
      }
    }
  }
  if (rec->monitorMaxClock != 0)
    xf86DrvMsg(index, X_INFO, "Monitor maximum supported pixel clock is %d MHz\n",
               rec->monitorMaxClock / 1000);
  if (screen->monitor != nullptr) {
    if (screen->monitor->DDC != nullptr && screen->monitor->DDC != monitorInfo)
      xfree(screen->monitor->DDC);
    screen->monitor->DDC = monitorInfo;
  } else {
    xfree(monitorInfo);
  }
}

// The board's hardware library and the monitor's EDID; the head must be
// one of the board's outputs.
bool OpenBoardAndReadEdid(PreInitHead& h) {
  ORVRec* rec = h.rec;
  if (!ORVOpenBoard(h.screen)) {
    ORVUnmapMem(h.screen);
    return false;
  }
  ReadMonitorEdid(h);
  if (rec->head > rec->maxOutputs) {
    xf86DrvMsg(h.index, X_ERROR, "Maximum number of outputs exceeds device capability!\n");
    return false;
  }
  return true;
}

// The monitor's input type, the chip's identity and revision, the gamma
// and the TV standard.
bool IdentifyMonitorAndChip(PreInitHead& h) {
  ORVRec* rec = h.rec;
  const int index = h.index;
  const pciVideoRec* pci = h.pci;
  const GDevPtr dev = rec->pDevSection;

  rec->s3i = Option(rec, OPTION_S3I, false);
  rec->s4i = Option(rec, OPTION_S4I, false);
  switch (rec->head) {
    case 0: rec->monitorInputType = rec->s3i ? 1 : ORVGetMonitorInputType(rec->pBoard, 0); break;
    case 1:
      rec->monitorInputType = ORVGetMonitorInputType(rec->pBoard, rec->s3i ? 0 : 1);
      break;
    default: rec->monitorInputType = 1; break;
  }
  xf86DrvMsg(index, X_INFO, "Monitor Input Type = %d\n", rec->monitorInputType);

  rec->chipId = pci->chipType;
  bool chipset = false;
  if (dev->chipset != nullptr) {
    for (const SymTabRec* c = ORVChipsets; c->token != -1; ++c) {
      if (xf86NameCmp(c->name, dev->chipset) == 0) {
        rec->chipId = c->token;
        chipset = true;
        xf86DrvMsg(index, X_CONFIG, "Chipset override: 0x%04X\n", rec->chipId);
      }
    }
  }
  if (!chipset && dev->chipID >= 0) {
    rec->chipId = dev->chipID;
    xf86DrvMsg(index, X_CONFIG, "ChipID override: 0x%04X\n", rec->chipId);
  }
  if (dev->chipRev >= 0) {
    rec->chipRev = dev->chipRev;
    xf86DrvMsg(index, X_CONFIG, "ChipID override: 0x%04X", rec->chipRev);
  } else {
    rec->chipRev = pci->chipRev;
  }

  const Gamma unity = {1.0f, 1.0f, 1.0f};
  if (!xf86SetGamma(h.screen, unity)) return false;

  if (const char* standard = xf86GetOptValString(rec->pOptions, OPTION_TVSTANDARD)) {
    rec->tvStandard = xf86NameCmp(standard, "PAL60") == 0 ? kOrvTvPal60
                      : xf86NameCmp(standard, "PAL") == 0 ? kOrvTvPal
                                                          : kOrvTvNtsc;
  }
  return true;
}

// Acceleration, bus mastering and the board-wide options (the first head
// reads them for the board), the desktop options, and the acceleration
// core, which may still turn bus mastering down.
bool ChooseAcceleration(PreInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  ORVEntityRec* entity = h.entity;
  const ORVRec* head0 = entity->heads[0] != nullptr ? ORVPTR(entity->heads[0]) : nullptr;
  if (entity->initialised && rec->head != 0 && head0 != nullptr) {
    rec->noAccel = head0->noAccel;
    rec->busMastering = head0->busMastering;
    rec->quadBoard = head0->quadBoard;
    rec->xfb = head0->xfb;
    rec->gnlk = head0->gnlk;
    rec->kvd = Option(rec, OPTION_KVD, false);
    rec->kvdtv = Option(rec, OPTION_KVDTV, false);
  } else {
    rec->noAccel = Option(rec, OPTION_NOACCEL, false);
    rec->busMastering = Option(rec, OPTION_BUSMASTERING, true) ? kBusMasteringKernel
                                                               : kBusMasteringLocal;
    if (Option(rec, OPTION_DMA_EMULATED, false)) rec->busMastering = kBusMasteringEmulated;
    rec->xfb = Option(rec, OPTION_XFB, false);
    rec->gnlk = Option(rec, OPTION_GNLK, false);
    rec->kvd = Option(rec, OPTION_KVD, false);
    rec->kvdtv = Option(rec, OPTION_KVDTV, false);
    if ((rec->kvd || rec->kvdtv) && rec->quadBoard) rec->xfb = 1;
  }
  if (rec->s4i) rec->xfb = 1;

  if (rec->noAccel) ORVDisableAcceleration(rec);
  if (rec->kvd && rec->gnlk && rec->quadBoard) ORVEnableGenlock(rec->pBoard);

  rec->merged = Option(rec, OPTION_MERGEDFB, false);
  rec->spanthree = Option(rec, OPTION_SPANTHREE, false);
  rec->spanfour = Option(rec, OPTION_SPANFOUR, false);
  if ((rec->spanthree && rec->maxOutputs + 1 < 3) || (rec->spanfour && rec->maxOutputs + 1 < 4)) {
    xf86DrvMsg(h.index, X_ERROR, "Maximum number of outputs exceeds device capability!\n");
    return false;
  }
  rec->packedPixel = Option(rec, OPTION_PACKED_PIXEL, false);
  rec->hwCursor = Option(rec, OPTION_HW_CURSOR, true);
  rec->shadowFB = Option(rec, OPTION_SHADOW_FB, false);
  rec->pseudoXinerama = Option(rec, OPTION_PSEUDO_XINERAMA, true);

  ORVKstrnLoadDriver(screen);
  if (!rec->noAccel) {
    if (xf86LoadSubModule(screen, "xaa") == nullptr) return false;
    xf86LoaderReqSymLists(kXaaSymbols, nullptr);
  }
  return true;
}

// The rotation, the shadow framebuffer it may need, the depths the desktops
// over three and four heads refuse, and the cursor.
bool ChooseRotation(PreInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  const int index = h.index;
  int32_t rotation = 0;
  if (const char* rotate = xf86GetOptValString(rec->pOptions, OPTION_ROTATE)) {
    if (xf86NameCmp(rotate, "CW") == 0) {
      rotation = kRotateCW;
      xf86DrvMsg(index, X_CONFIG, "Rotating screen clockwise\n");
    } else if (xf86NameCmp(rotate, "CCW") == 0) {
      rotation = kRotateCCW;
      xf86DrvMsg(index, X_CONFIG, "Rotating screen counter clockwise\n");
    } else {
      xf86DrvMsg(index, X_CONFIG, "\"%s\" is not a valid value for Option \"Rotate\"\n", rotate);
      xf86DrvMsg(index, X_INFO, "Valid options are \"CW\" or \"CCW\"\n");
    }
  }
  h.rotation = rotation;
  // Without kernel bus mastering the rotation is drawn through a shadow
  // framebuffer; with it the hardware pivot rotates.
  if (rotation != 0 && (rec->busMastering != kBusMasteringKernel || rec->noAccel)) rec->shadowFB = 1;
  if (rec->shadowFB && !rec->noAccel) ORVDisableAcceleration(rec);

  if (screen->depth == 8 && (rec->spanthree || rec->s3i)) {
    xf86DrvMsg(index, X_ERROR, "Given depth (%d) is not supported in Spanthree.\n", screen->depth);
    return false;
  }
  if (screen->depth == 8 && (rec->spanfour || rec->s4i)) {
    xf86DrvMsg(index, X_ERROR, "Given depth (%d) is not supported in Spanfour.\n", screen->depth);
    return false;
  }
  if (rec->s3i || rotation != 0) rec->hwCursor = 0;
  if (rec->shadowFB) xf86DrvMsg(index, X_INFO, "Using a Shadow Framebuffer\n");
  if (rec->noAccel) xf86DrvMsg(index, X_WARNING, "Acceleration is disabled\n");
  else xf86DrvMsg(index, X_INFO, "Acceleration is enabled\n");
  if (rec->hwCursor) xf86DrvMsg(index, X_INFO, "Using hardware cursor\n");
  else xf86DrvMsg(index, X_WARNING, "Using software cursor\n");
  return true;
}

// The desktop's kind: its mode-init routine and hooks, the merged second
// head's record and monitor, and where the rotation is done.
bool ChooseDesktop(PreInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  ORVRec* second = h.second;
  const int index = h.index;
  rec->modeInit = ORVModeInit;
  if (rec->merged) {
    second->head2 = 1;
    second->head3 = second->head4 = 0;
    second->merged = 1;
    second->kvd = rec->kvd;
    second->quadBoard = rec->quadBoard;
    second->xfb = rec->xfb;
    second->packedPixel = rec->packedPixel;
    second->hwCursor = rec->hwCursor;
    second->shadowFB = rec->shadowFB;
    second->noAccel = rec->noAccel;
    second->busMastering = rec->busMastering;
    second->invertedQuad = rec->invertedQuad;
    second->videoBridge = rec->videoBridge;
    rec->PointerMoved = screen->PointerMoved;
    screen->PointerMoved = ORVMergePointerMoved;
    rec->aux[0]->PointerMoved = ORVMergePointerMoved;
    screen->AdjustFrame = ORVMergeAdjustFrames;
    rec->aux[0]->AdjustFrame = ORVMergeAdjustFrames;
  } else if (rec->spanthree) {
    rec->PointerMoved = screen->PointerMoved;
    screen->PointerMoved = ORVMergePointerMoved;
    rec->modeInit = ORVTripleModeInit;
    xf86DrvMsg(index, X_INFO, "Using ORVTripleModeInit\n");
  } else if (rec->spanfour) {
    rec->PointerMoved = screen->PointerMoved;
    screen->PointerMoved = ORVSpanfourPointerMoved;
    rec->modeInit = ORVQuadModeInit;
    xf86DrvMsg(index, X_INFO, "Using ORVQuadModeInit\n");
  }
  if (rec->head == 2 && !rec->s3i && !rec->s4i) return false;
  if (rec->packedPixel) xf86DrvMsg(index, X_CONFIG, "Enable PackedPixel\n");
  if (rec->noAccel) rec->shadowRotate = h.rotation;
  else rec->hwRotate = h.rotation;

  // The merged second head's monitor: a copy with its own ranges.
  if (rec->merged && screen->monitor != nullptr) {
    auto* monitor2 = static_cast<MonPtr>(xalloc(sizeof(MonRec)));
    if (monitor2 == nullptr) return false;
    *monitor2 = *screen->monitor;
    monitor2->DDC = nullptr;
    rec->ownedMonitor = monitor2;
    rec->aux[0]->monitor = monitor2;
    if (const char* hsync = xf86GetOptValString(rec->pOptions, OPTION_MONITOR2HSYNC))
      monitor2->nHsync = ORVMergeStrToRanges(monitor2->hsync, hsync);
    if (const char* vrefresh = xf86GetOptValString(rec->pOptions, OPTION_MONITOR2VREFRESH))
      monitor2->nVrefresh = ORVMergeStrToRanges(monitor2->vrefresh, vrefresh);
  }
  return true;
}

// Which of the head's outputs are digital, forced by option or detected,
// and whether the first one runs dual link.
bool ChooseDigitalOutputs(PreInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  ORVRec* second = h.second;
  const int index = h.index;
  rec->digital1 = rec->digital2 = 0;
  if (Option(rec, OPTION_DIGITAL_SCREEN, false)) {
    if (rec->head == 0 && !rec->s3i) {
      xf86DrvMsg(index, X_INFO, "Forcing Digital Output\n");
      rec->digital1 = 1;
      if (rec->merged) rec->digital2 = 1;
    } else if (rec->head == 1) {
      xf86DrvMsg(index, X_INFO, "Forcing Digital Output\n");
      if (rec->s3i) rec->digital1 = 1;
      else rec->digital2 = 1;
    }
  }
  if (Option(rec, OPTION_DIGITAL_SCREEN1, false)) {
    xf86DrvMsg(index, X_INFO, "Forcing Digital Output [1]\n");
    rec->digital1 = 1;
    if (rec->merged) {
      xf86DrvMsg(index, X_INFO, "Forcing Digital Output [2]\n");
      rec->digital2 = 1;
    }
  }
  if (Option(rec, OPTION_DIGITAL_SCREEN2, false) && !rec->digital2) {
    xf86DrvMsg(index, X_INFO, "Forcing Digital Output [2]\n");
    rec->digital2 = 1;
  }
  if (rec->head == 0) {
    if (!rec->digital1 && rec->monitorInputType == 2) {
      xf86DrvMsg(index, X_INFO, "Detecting Digital Output [1]\n");
      rec->digital1 = 1;
      if (rec->merged && ORVGetMonitorInputType(rec->pBoard, 1) == 2) {
        xf86DrvMsg(index, X_INFO, "Detecting Digital Output [2]\n");
        rec->digital2 = 1;
      }
    }
    if (rec->digital1) xf86DrvMsg(index, X_INFO, "Digital is available [1]\n");
  } else if (rec->head == 1) {
    if (!rec->digital2 && rec->monitorInputType == 2) {
      xf86DrvMsg(index, X_INFO, "Detecting Digital Output [2]\n");
      rec->digital2 = 1;
    }
    if (rec->digital2) xf86DrvMsg(index, X_INFO, "Digital is available [2]\n");
  }

  // On the first two chips a quad board's second digital head must share
  // the first head's KVD setting.
  const ORVEntityRec* entity = h.entity;
  const ORVRec* head0 = entity->heads[0] != nullptr ? ORVPTR(entity->heads[0]) : nullptr;
  if (rec->head == 1 && rec->digital2 && rec->quadBoard && head0 != nullptr && head0->digital1 &&
      head0->kvd != rec->kvd && IsEarlyKestrion(static_cast<uint16_t>(rec->chipId))) {
    xf86DrvMsg(index, X_ERROR,
               "The second digital output needs the same KVD setting as the first.\n");
    return false;
  }

  if (rec->head == 0 && rec->digital1 && Option(rec, OPTION_DVIDL, false)) {
    rec->dualLink = ORVSetDualLinkCaps(rec->pBoard) ? 1 : 0;
    if (rec->dualLink) {
      xf86DrvMsg(index, X_INFO, "Enabling Dual Link.\n");
      xf86DrvMsg(index, X_INFO, "\nNote: You may need to enable the Reduced Blanking option\n");
      xf86DrvMsg(index, X_INFO, "      for X.org 7.1 and above. You would need to add the\n");
      xf86DrvMsg(index, X_INFO, "      following line in your monitor section:\n\n");
      xf86DrvMsg(index, X_INFO, "      Option \"ReducedBlanking\" \"on\"\n\n");
    } else {
      xf86DrvMsg(index, X_INFO, "Dual Link Unavailable.\n");
    }
  }
  second->digital1 = rec->digital1;
  second->digital2 = rec->digital2;
  second->shadowRotate = rec->shadowRotate;
  second->hwRotate = rec->hwRotate;
  screen->progClock = TRUE;
  rec->aux[0]->progClock = TRUE;
  return true;
}

// The clock range the modes are validated against: the board's maximum for
// the head's output, or the monitor's when lower and not overridden.
bool SetClockRange(PreInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  const int index = h.index;
  const bool digital = (rec->head == 0 && rec->digital1) || (rec->head == 1 && rec->digital2);
  rec->minClock = kMinClock;
  if (digital && Option(rec, OPTION_DVIDL, false) && rec->dualLink) {
    rec->maxClock = kDualLinkMaxClock;
  } else {
    rec->maxClock = static_cast<int32_t>(
        ORVGetMaxPixelClock(rec->pBoard, digital ? 1 : 0, static_cast<uint32_t>(rec->head)));
  }
  if (rec->monitorMaxClock != 0 && rec->monitorMaxClock < rec->maxClock &&
      !Option(rec, OPTION_OCC, false)) {
    rec->maxClock = rec->monitorMaxClock;
    xf86DrvMsg(index, X_INFO, "-- Using monitors max pixel clock to verify modes.     --\n");
    xf86DrvMsg(index, X_INFO, "-- To override use 'Option \"OCC\"' in the device section. --\n");
  }
  auto* clocks = static_cast<ClockRangePtr>(xcalloc(1, sizeof(ClockRange)));
  if (clocks == nullptr) return false;
  *clocks = {nullptr, rec->minClock, rec->maxClock, -1, TRUE, FALSE, 1, 1, 0};
  xfree(rec->clockRanges);
  rec->clockRanges = clocks;
  screen->clockRanges = clocks;
  return true;
}

// The server's mode validation of the screen and of the merged second
// head; the first valid mode becomes current.
bool ValidateModes(PreInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  const int index = h.index;
  ClockRangePtr clocks = rec->clockRanges;
  screen->maxHValue = screen->maxVValue = kMaxVirtual;
  if (ValidateScreenModes(screen, clocks) == -1) {
    xf86DrvMsg(index, X_ERROR, "Validate Modes Failed\n");
    return false;
  }
  ScrnInfoPtr aux2 = rec->aux[0];
  if (rec->merged && ValidateScreenModes(aux2, clocks) == -1) {
    xf86DrvMsg(index, X_ERROR, "Validate Modes Failed for SecondCrtc in Merged Mode\n");
    return false;
  }
  xf86PruneDriverModes(screen);
  if (screen->modes == nullptr) {
    xf86DrvMsg(index, X_ERROR, "No valid modes found\n");
    return false;
  }
  if (rec->merged) {
    xf86PruneDriverModes(aux2);
    if (aux2->modes == nullptr) {
      xf86DrvMsg(index, X_ERROR, "No valid modes found for SecondCrtc in Merged Mode\n");
      return false;
    }
  }
  xf86SetCrtcForModes(screen, INTERLACE_HALVE_V);
  screen->currentMode = screen->modes;
  if (rec->merged) {
    xf86SetCrtcForModes(aux2, INTERLACE_HALVE_V);
    aux2->currentMode = aux2->modes;
    rec->modes2 = aux2->modes;
    rec->currentMode2 = aux2->currentMode;
  }
  xf86SetDpi(screen, 0, 0);
  return true;
}

// The mode list of the desktop's kind: merged from MetaModes, rotated,
// three- or four-head wide, or the validated list with the width doubled
// for KVD and packed pixels.
bool BuildDesktopModes(PreInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  const int index = h.index;
  ScrnInfoPtr aux2 = rec->aux[0];
  const bool kvdQuad = rec->kvd && rec->quadBoard;
  if (rec->merged) {
    if (kvdQuad) {
      DoubleWidth(screen);
      DoubleWidth(aux2);
    }
    xf86PrintModes(aux2);
    const char* position = xf86GetOptValString(rec->pOptions, OPTION_MONITOR2POS);
    rec->monitor2Position = PositionCode(position);
    xf86DrvMsg(index, X_INFO, "Monitor 2 position: %d\n", rec->monitor2Position);
    const char* metaModes = xf86GetOptValString(rec->pOptions, OPTION_METAMODES);
    if (metaModes == nullptr) {
      xf86DrvMsg(index, X_ERROR, "MetaModes option missing.\n");
      return false;
    }
    if (ORVMergeGenerateModeList(screen, metaModes, screen->modes, aux2->modes,
                                 rec->monitor2Position) == nullptr) {
      xf86DrvMsg(index, X_ERROR, "Parse Error reading MetaModes, or No modes left.\n");
      return false;
    }
    // The virtual size covers the widest and the tallest merged mode.
    int width = 0, height = 0;
    ORVMergeVirtualSize(screen, &width, &height);
    screen->virtualX = aux2->virtualX = width;
    screen->virtualY = aux2->virtualY = height;
  } else if (rec->shadowRotate != 0 || rec->hwRotate != 0) {
    if (kvdQuad) DoubleWidth(screen);
    if (rec->packedPixel) DoubleWidth(screen);
    const int width = screen->virtualX;
    screen->virtualX = screen->virtualY;
    screen->virtualY = width;
    if (!OrvPreInitModes_GenerateFeaturedModes(screen)) {
      xf86DrvMsg(index, X_ERROR, "Could not generate Rotated mode.\n");
      return false;
    }
  } else if (rec->spanthree || rec->spanfour) {
    screen->virtualX = (rec->spanthree ? 3 : 4) * screen->currentMode->HDisplay;
    screen->virtualY = screen->currentMode->VDisplay;
    if (!OrvPreInitModes_GenerateFeaturedModes(screen)) {
      xf86DrvMsg(index, X_ERROR, "Could not generate Spanthree mode.\n");
      return false;
    }
  } else if (kvdQuad || rec->packedPixel) {
    DoubleWidth(screen);
  }
  return true;
}

// The pitch and the head's mode record (and the merged second head's).
bool FillModeRecords(PreInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  const bool shadowRotated = rec->shadowFB && rec->shadowRotate != 0;
  screen->displayWidth = OrvDisplayWidth(shadowRotated ? screen->virtualY : screen->virtualX);
  ORVFillModeInfoStruct(screen, screen->currentMode, &rec->modeInfo, kFillPreInit);
  if (rec->merged) {
    ScrnInfoPtr aux2 = rec->aux[0];
    aux2->displayWidth = screen->displayWidth;
    ORVFillModeInfoStruct(aux2, aux2->currentMode, &h.second->modeInfo,
                          rec->kvd && rec->quadBoard ? kFillMerged : kFillMergedSecond);
  }
  xf86PrintModes(screen);
  return true;
}

// The head's share of the board's memory: its screen and the OffScreen
// fraction beyond it.
bool ReserveOffscreen(PreInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  const bool smallS4I = rec->s4i && screen->videoRam <= kS4ISmallMemory;
  float offscreen = rec->noAccel || smallS4I ? 0.0f : kDefaultOffscreen;
  int configured = 0;
  if (xf86GetOptValInteger(rec->pOptions, OPTION_OFFSCREEN, &configured))
    offscreen = smallS4I ? 0.0f : static_cast<float>(configured);
  const uint64_t screenBytes = static_cast<uint64_t>(screen->virtualX) * screen->virtualY *
                               screen->bitsPerPixel / 8;
  return screenBytes <= 0xFFFFFFFFull &&
         ORVComputeOffscreen(screen, static_cast<uint32_t>(screenBytes), offscreen);
}

// The server modules ScreenInit needs, the TV feature list, and what a
// return from a DGA mode restores.
bool LoadScreenModules(PreInitHead& h) {
  ScrnInfoPtr screen = h.screen;
  ORVRec* rec = h.rec;
  if (xf86LoadSubModule(screen, "ramdac") == nullptr) {
    ORVFreeRec(screen);
    return false;
  }
  OrvFeatureConfig_GenerateFeatureList(screen, &rec->pFeatures);
  if (OrvFeatureConfig_IsTvOut(rec->pFeatures)) rec->hwCursor = 0;
  if (xf86LoadSubModule(screen, "fb") == nullptr) return false;
  xf86LoaderReqSymLists(kFbSymbols, nullptr);
  if (rec->noAccel) ORVDisableAcceleration(rec);

  static const char* const kBusMasteringText[] = {"Busmastering is enabled\n",
                                                  "Emulated Busmastering\n",
                                                  "Local Busmastering is enabled\n"};
  if (rec->busMastering >= kBusMasteringKernel && rec->busMastering <= kBusMasteringLocal)
    xf86DrvMsg(h.index, X_INFO, "%s", kBusMasteringText[rec->busMastering]);

  if (rec->shadowFB) {
    if (xf86LoadSubModule(screen, "shadowfb") == nullptr) return false;
    xf86LoaderReqSymLists(kShadowSymbols, nullptr);
  }

  rec->savedBpp = screen->bitsPerPixel;
  rec->savedDepth = screen->depth;
  rec->savedDisplayWidth = screen->displayWidth;
  rec->savedWeight = screen->weight;
  rec->savedMode = screen->currentMode;
  rec->savedState = static_cast<uint8_t>(rec->hwCursor);
  return true;
}

// The entity is initialised; ScreenInit opens the board again.
bool ReleaseBoard(PreInitHead& h) {
  h.entity->initialised = 1;
  ORVCloseBoard(h.screen);
  return true;
}

// The phases in their order; the first that refuses the head ends PreInit.
// Records already made stay attached and FreeScreen frees them.
using PreInitPhase = bool (*)(PreInitHead&);
constexpr PreInitPhase kPreInitPhases[] = {
    CreateRecords,
    TakeEntityAndPci,
    FindApertures,
    SizeAndMapMemory,
    ProcessOptions,
    OpenBoardAndReadEdid,
    IdentifyMonitorAndChip,
    ChooseAcceleration,
    ChooseRotation,
    ChooseDesktop,
    ChooseDigitalOutputs,
    SetClockRange,
    ValidateModes,
    BuildDesktopModes,
    FillModeRecords,
    ReserveOffscreen,
    LoadScreenModules,
    ReleaseBoard,
};

}  // namespace

Bool ORVPreInit(ScrnInfoPtr screen, int flags) {
  if (flags & PROBE_DETECT) return FALSE;
  PreInitHead head{screen, screen->scrnIndex};
  for (PreInitPhase phase : kPreInitPhases) {
    if (!phase(head)) return FALSE;
  }
  return TRUE;
}
