#include "core/driver_switches.h"

#include "core/common_data.h"
#include "core/pdev.h"

// ---- Rules ---------------------------------------------------------------------------

void DsLoxarEnabled::Validate(PDEV* pdev) {
  DriverSwitchU8::Validate(pdev);
  if (debugFlags_ != nullptr && (debugFlags_->GetValue() & kBmDebugNoLoxar)) current = 0;
}

void DsHwTransformLight::Validate(PDEV* pdev) {
  DriverSwitchU8::Validate(pdev);
  if (loxar_ != nullptr && loxar_->GetValue() == 0) current = 0;
}

void DsHwPureDevice::Validate(PDEV* pdev) {
  DriverSwitchU8::Validate(pdev);
  if (transformLight_ != nullptr && transformLight_->GetValue() == 0) current = 0;
}

void DsOverlayEnable::Validate(PDEV*) { current = 1; }

void DriverMiniSwitch::Validate(PDEV*) { validated = 1; }

void DsPreviewSupport::Validate(PDEV* pdev) {
  DriverMiniSwitch::Validate(pdev);
  if (debugFlags_ != nullptr && (debugFlags_->GetValue() & kBmDebugNoLoxar)) current = 0;
  if (pdev->sharedLocked->frameBufferHalf[1] == 0) current = 0;
}

// ---- DriverSwitchManager ----------------------------------------------------------------

bool DriverSwitchManager::AddSwitchToList(DriverSwitchValidation* driverSwitch) {
  if (count >= kDriverSwitchListSize) return false;
  list[count++] = driverSwitch;
  return true;
}

void DriverSwitchManager::Invalidate(uint32_t groups) {
  for (uint32_t i = 0; i < count; ++i) {
    if (list[i] != nullptr && (list[i]->groupMask & groups)) list[i]->Invalidate();
  }
}

void DriverSwitchManager::Validate(PDEV* pdev, uint32_t groups) {
  Invalidate(groups);
  for (uint32_t i = 0; i < count; ++i) {
    if (list[i] != nullptr && (list[i]->groupMask & groups)) list[i]->Validate(pdev);
  }
}

void DriverSwitchManager::DeleteAllSwitches() {
  Invalidate(kDsGroupAll);
  for (uint32_t i = 0; i < count; ++i) {
    delete list[i];
    list[i] = nullptr;
  }
  count = 0;
}

// ---- The sets --------------------------------------------------------------------------------

namespace {

// One row of the common set: builds its switch into the named pointer.
using MakeSwitch = DriverSwitchValidation* (*)(DriverSwitchesCommon& set,
                                               RegistrySwitchManager& registry);

#define ORV_DS_WRAP(name, Class, groups)                                          \
  [](DriverSwitchesCommon& s, RegistrySwitchManager& r) -> DriverSwitchValidation* { \
    return s.name = new Class(r.name, groups);                                    \
  },
#define ORV_DS_DEPEND(name, Class, on, groups)                                    \
  [](DriverSwitchesCommon& s, RegistrySwitchManager& r) -> DriverSwitchValidation* { \
    return s.name = new Class(r.name, s.on, groups);                              \
  },
#define ORV_DS_FIXED(name, Class, value, groups)                                  \
  [](DriverSwitchesCommon& s, RegistrySwitchManager&) -> DriverSwitchValidation* {   \
    return s.name = new Class(static_cast<unsigned char>(value), groups);         \
  },

const MakeSwitch kCommonRows[] = {ORV_DRIVER_SWITCHES(ORV_DS_WRAP, ORV_DS_DEPEND, ORV_DS_FIXED)};
static_assert(sizeof(kCommonRows) / sizeof(kCommonRows[0]) == kDriverSwitchCount);

#undef ORV_DS_WRAP
#undef ORV_DS_DEPEND
#undef ORV_DS_FIXED

}  // namespace

DriverSwitchesCommon::DriverSwitchesCommon(uint8_t* ok, PDEV* pdev) {
  *ok = 0;
  RegistrySwitchManager* registry = pdev->common->registrySwitches;
  if (registry == nullptr) return;
  for (MakeSwitch make : kCommonRows) {
    DriverSwitchValidation* driverSwitch = make(*this, *registry);
    if (driverSwitch == nullptr) {
      DeleteAllSwitches();
      return;
    }
    manager.AddSwitchToList(driverSwitch);
  }
  manager.Invalidate(kDsGroupAll);
  *ok = 1;
}

void DriverSwitchesCommon::DeleteAllSwitches() {
  manager.DeleteAllSwitches();
#define ORV_DS_CLEAR(name, ...) name = nullptr;
  ORV_DRIVER_SWITCHES(ORV_DS_CLEAR, ORV_DS_CLEAR, ORV_DS_CLEAR)
#undef ORV_DS_CLEAR
}

DriverSwitchesLocal::DriverSwitchesLocal(uint8_t* ok, PDEV*) {
  manager.Invalidate(kDsGroupAll);
  *ok = 1;
}

// ---- Component-table row ------------------------------------------------------------------

bool InitDriverSwitchManager(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (pdev->IsFirstForBoard()) {
    common->registrySwitches = nullptr;
    common->driverSwitches = nullptr;

    uint8_t ok = 0;
    common->registrySwitches = new RegistrySwitchManager(&ok, pdev);
    if (common->registrySwitches == nullptr || !ok) {
      CleanupDriverSwitchManager(pdev);
      return false;
    }
    ok = 0;
    common->driverSwitches = new DriverSwitchesCommon(&ok, pdev);
    if (common->driverSwitches == nullptr || !ok) {
      CleanupDriverSwitchManager(pdev);
      return false;
    }
    common->driverSwitches->manager.Validate(pdev, kDsGroupAll);
  } else if (common->driverSwitches != nullptr) {
    common->driverSwitches->manager.Validate(pdev, kDsGroupEveryHead);
  }

  // A device object without its local set still runs.
  uint8_t ok = 0;
  pdev->driverSwitchesLocal = new DriverSwitchesLocal(&ok, pdev);
  if (pdev->driverSwitchesLocal != nullptr) {
    if (ok) {
      pdev->driverSwitchesLocal->manager.Validate(pdev, kDsGroupAll);
    } else {
      delete pdev->driverSwitchesLocal;
      pdev->driverSwitchesLocal = nullptr;
    }
  }
  return true;
}

void CleanupDriverSwitchManager(PDEV* pdev) {
  CommonData* common = pdev->common;
  if (pdev->IsFirstForBoard()) {
    if (common->registrySwitches != nullptr) {
      delete common->registrySwitches;
      common->registrySwitches = nullptr;
    }
    if (common->driverSwitches != nullptr) {
      delete common->driverSwitches;
      common->driverSwitches = nullptr;
    }
  }
  if (pdev->driverSwitchesLocal != nullptr) {
    delete pdev->driverSwitchesLocal;
    pdev->driverSwitchesLocal = nullptr;
  }
}
