// The module's entry: its version record and data record, the set-up that
// registers the driver, the identify, probe and options hooks, and the
// screen and entity records every other part of the driver hangs on.
#include <string.h>

#include "core/chip_ids.h"
#include "platform/xserver/xf86_server.h"
#include "xdriver/orv_driver.h"
#include "xdriver/orv_features.h"
#include "xdriver/orv_options.h"

namespace {

// The server's video-driver interface this module is built for: X.Org
// 7.2.0, driver ABI 1.1.
constexpr CARD32 kServerVersion = 70200000;
constexpr CARD32 kVideoDriverAbi = 0x00010001;

XF86ModuleVersionInfo g_version = {
    ORV_DRIVER_NAME,
    "Orvane display drivers",
    MODINFOSTRING1,
    MODINFOSTRING2,
    kServerVersion,
    kOrvVersionMajor,
    kOrvVersionMinor,
    kOrvVersionPatch,
    ABI_CLASS_VIDEODRV,
    kVideoDriverAbi,
    MOD_CLASS_VIDEODRV,
    {0, 0, 0, 0},
};

// Server symbols the later parts of the driver resolve, referenced at
// set-up so that they load with their modules.
const char* kVgaHwSymbols[] = {"vgaHWGetHWRec",    "vgaHWUnlock",       "vgaHWInit",
                               "vgaHWProtect",     "vgaHWSetMmioFuncs", "vgaHWGetIOBase",
                               "vgaHWMapMem",      "vgaHWLock",         "vgaHWFreeHWRec",
                               "vgaHWSaveScreen",  "vgaHWddc1SetSpeed", "vgaHWSave",
                               "vgaHWRestore",     "vgaHWGetIndex",     nullptr};
const char* kXaaSymbols[] = {"XAADestroyInfoRec",
                             "XAACreateInfoRec",
                             "XAAInit",
                             "XAAStippleScanlineFuncLSBFirst",
                             "XAAOverlayFBfuncs",
                             "XAACachePlanarMonoStipple",
                             "XAAScreenIndex",
                             "XAAFallbackOps",
                             "XAAFillSolidRects",
                             "XAAMoveDWORDS",
                             nullptr};
const char* kOverlaySymbols[] = {"xf86Overlay8Plus32Init", nullptr};
const char* kCursorSymbols[] = {"xf86InitCursor", "xf86CreateCursorInfoRec",
                                "xf86DestroyCursorInfoRec", nullptr};
const char* kDdcSymbols[] = {"xf86DoEDID_DDC1", "xf86PrintEDID", "xf86SetDDCproperties",
                             "xf86InterpretEDID", nullptr};
const char* kI2cSymbols[] = {"xf86CreateI2CBusRec", "xf86I2CBusInit", nullptr};
const char* kShadowSymbols[] = {"ShadowFBInit", nullptr};
const char* kFbSymbols[] = {"fbPictureInit", "fbScreenInit", nullptr};
const char* kNoSymbols[] = {nullptr};
const char* kInt10Symbols[] = {"xf86InitInt10", "xf86FreeInt10", "xf86ExecX86int10", nullptr};

bool g_setup_done = false;
int g_entity_index = -1;

}  // namespace

extern "C" {

XF86ModuleData orvModuleData = {&g_version, ORVSetup, nullptr};

ExtensionModule orvExtensionModules[] = {
    {ORVGammaExtensionInit, "ORVGamma", nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // extern "C"

DriverRec ORV = {kOrvDriverVersion, ORV_DRIVER_NAME, ORVIdentify, ORVProbe,
                 ORVAvailableOptions, nullptr, 0};

SymTabRec ORVChipsets[] = {
    {kDeviceKestrion1, "Kestrion KA-100"},
    {kDeviceKestrion2, "Kestrion KA-200"},
    {kDeviceKestrionNext1, "Kestrion KB-400"},
    {kDeviceKestrionNext2, "Kestrion KB-500"},
    {kDeviceKestrionNext3, "Kestrion KB-600"},
    {-1, nullptr},
};

PciChipsets ORVPciChipsets[] = {
    {kDeviceKestrion1, kDeviceKestrion1, nullptr},
    {kDeviceKestrion2, kDeviceKestrion2, nullptr},
    {kDeviceKestrionNext1, kDeviceKestrionNext1, nullptr},
    {kDeviceKestrionNext2, kDeviceKestrionNext2, nullptr},
    {kDeviceKestrionNext3, kDeviceKestrionNext3, nullptr},
    {-1, -1, nullptr},
};

pointer ORVSetup(pointer module, pointer, int* errmaj, int*) {
  if (g_setup_done) {
    if (errmaj != nullptr) *errmaj = LDR_ONCEONLY;
    return nullptr;
  }
  g_setup_done = true;
  xf86AddDriver(&ORV, module, 0);
  LoaderRefSymLists(kVgaHwSymbols, kXaaSymbols, kOverlaySymbols, kCursorSymbols, kDdcSymbols,
                    kI2cSymbols, kShadowSymbols, kFbSymbols, kNoSymbols, kInt10Symbols, nullptr);
  for (ExtensionModule* e = orvExtensionModules; e->name != nullptr; ++e) LoadExtension(e, FALSE);
  return reinterpret_cast<pointer>(1);
}

void ORVIdentify(int) {
  xf86PrintChipsets(ORV_NAME, "Driver for Orvane chipsets", ORVChipsets);
}

const OptionInfoRec* ORVAvailableOptions(int, int) { return ORVOptions; }

int ORVEntityPrivateIndex() { return g_entity_index; }

ORVEntityRec* ORVEntityOf(int entityIndex) {
  if (g_entity_index < 0) return nullptr;
  DevUnion* slot = xf86GetEntityPrivate(entityIndex, g_entity_index);
  return slot != nullptr ? static_cast<ORVEntityRec*>(slot->ptr) : nullptr;
}

Bool ORVProbe(DriverPtr driver, int flags) {
  GDevPtr* sections = nullptr;
  const int numSections = xf86MatchDevice(ORV_DRIVER_NAME, &sections);
  if (numSections <= 0) {
    xf86Msg(X_ERROR, "No matching device section in the config file\n");
    return FALSE;
  }
  if (xf86GetPciVideoInfo() == nullptr) {
    xfree(sections);
    return FALSE;
  }
  int* entities = nullptr;
  const int instances = xf86MatchPciInstances(ORV_NAME, kKestrionVendorId, ORVChipsets,
                                              ORVPciChipsets, sections, numSections, driver,
                                              &entities);
  xfree(sections);
  if (instances <= 0) return FALSE;
  if (flags & PROBE_DETECT) {
    xfree(entities);
    return TRUE;
  }
  bool claimed = false;
  for (int i = 0; i < instances; ++i) {
    ScrnInfoPtr screen = xf86ConfigPciEntity(nullptr, 0, entities[i], nullptr, nullptr, nullptr,
                                             nullptr, nullptr, nullptr);
    if (screen == nullptr) continue;
    claimed = true;
    screen->driverVersion = kOrvDriverVersion;
    screen->driverName = const_cast<char*>(ORV_DRIVER_NAME);
    screen->name = ORV_NAME;
    screen->Probe = ORVProbe;
    screen->PreInit = ORVPreInit;
    screen->ScreenInit = ORVScreenInit;
    screen->SwitchMode = ORVSwitchMode;
    screen->AdjustFrame = ORVAdjustFrame;
    screen->EnterVT = ORVEnterVT;
    screen->LeaveVT = ORVLeaveVT;
    screen->FreeScreen = ORVFreeScreen;
    screen->ValidMode = ORVValidMode;

    xf86SetEntitySharable(entities[i]);
    if (g_entity_index < 0) g_entity_index = xf86AllocateEntityPrivateIndex();
    DevUnion* slot = xf86GetEntityPrivate(entities[i], g_entity_index);
    if (slot == nullptr) continue;
    if (slot->ptr == nullptr) {
      auto* entity = static_cast<ORVEntityRec*>(xcalloc(1, sizeof(ORVEntityRec)));
      if (entity == nullptr) continue;
      entity->instanceCount = -1;
      slot->ptr = entity;
    }
    auto* entity = static_cast<ORVEntityRec*>(slot->ptr);
    ++entity->instanceCount;
    xf86SetEntityInstanceForScreen(screen, entities[i], entity->instanceCount);
  }
  xfree(entities);
  return claimed ? TRUE : FALSE;
}

Bool ORVGetRec(ScrnInfoPtr screen) {
  if (screen->driverPrivate == nullptr) {
    screen->driverPrivate = xcalloc(1, sizeof(ORVRec));
    if (screen->driverPrivate == nullptr) return FALSE;
  }
  return TRUE;
}

void ORVFreeRec(ScrnInfoPtr screen) {
  ORVRec* rec = ORVPTR(screen);
  if (rec == nullptr) return;
  // The modes the driver built carry its private records.
  DisplayModePtr first = screen->modes;
  for (DisplayModePtr m = first; m != nullptr;) {
    if (OrvModePrivate* priv = OrvModePriv(m)) {
      xfree(priv->source);
      xfree(priv);
      m->Private = nullptr;
    }
    m = m->next;
    if (m == first) break;
  }
  // The list the builders replaced is the driver's to free.
  first = rec->savedModes;
  for (DisplayModePtr m = first; m != nullptr;) {
    DisplayModePtr next = m->next;
    xfree(m->name);
    xfree(m);
    if (next == first) break;
    m = next;
  }
  rec->savedModes = nullptr;
  xfree(rec->dgaModes);
  rec->dgaModes = nullptr;
  rec->dgaModeCount = 0;
  // What PreInit made for the screen: the feature list, the clock range, the
  // second monitor and the auxiliary screen records with their mode lists.
  OrvFeatureConfig_FreeFeatureList(&rec->pFeatures);
  xfree(rec->clockRanges);
  xfree(rec->ownedMonitor);
  for (ScrnInfoPtr& aux : rec->aux) {
    if (aux == nullptr) continue;
    ORVFreeRec(aux);
    DisplayModePtr modes = aux->modes;
    for (DisplayModePtr m = modes; m != nullptr;) {
      DisplayModePtr next = m->next;
      xfree(m->name);
      xfree(m);
      if (next == modes) break;
      m = next;
    }
    xfree(aux);
    aux = nullptr;
  }
  xfree(rec);
  screen->driverPrivate = nullptr;
}

