#include "core/registry_switches.h"

#include <string.h>

#include "core/os.h"
#include "core/pdev.h"

// ---- RegistrySwitch ----------------------------------------------------------------

template <typename T>
RegistrySwitch<T>::RegistrySwitch(uint8_t* ok, const char* section, const char* name,
                                  Scope scope, T defaultValue)
    : defaultValue_(defaultValue) {
  *ok = 0;
  section_ = OsStrDup(section);
  if (section_ == nullptr) return;
  name_ = OsStrDup(name);
  if (name_ == nullptr) return;
  scope_ = scope;
  *ok = 1;
}

template <typename T>
RegistrySwitch<T>::~RegistrySwitch() {
  if (section_ != nullptr) memFree(section_);
  if (name_ != nullptr) memFree(name_);
  section_ = nullptr;
  name_ = nullptr;
}

template <typename T>
bool RegistrySwitch<T>::NameFits() const {
  // Measured as "section.name".
  return strlen(section_) + strlen(name_) + 1 <= kRegistryNameLimit;
}

template <typename T>
T RegistrySwitch<T>::GetValue(PDEV* pdev) {
  if (!NameFits()) return defaultValue_;
  T value = 0;
  if (OsReadRegistryValue(pdev->device, section_, name_, &value,
                          sizeof(T) == 1 ? kRegistryWidthByte : kRegistryWidthDword)) {
    return value;
  }
  return defaultValue_;
}

template <typename T>
bool RegistrySwitch<T>::SetValue(PDEV* pdev, T value) {
  if (!NameFits()) return false;
  return OsWriteRegistryValue(pdev->device, section_, name_, &value,
                              sizeof(T) == 1 ? kRegistryWidthByte : kRegistryWidthDword);
}

template class RegistrySwitch<unsigned char>;
template class RegistrySwitch<unsigned int>;

// ---- RegistrySwitchManager ----------------------------------------------------------

namespace {

enum : bool { kU8 = false, kU32 = true };

struct RegistryRow {
  const char* name;
  const char* section;
  bool wide;
  uint32_t value;
  uint32_t revisionMask;  // 0: the default is fixed
  uint32_t maskedValue;   // the default when the revision bits meet the mask
  void (*store)(RegistrySwitchManager& manager, RegistrySwitchAbstract* registrySwitch);
};

#define ORV_REGISTRY_ROW(name, section, type, value, mask, masked)                  \
  {#name, section, k##type, value, mask, masked,                                    \
   [](RegistrySwitchManager& m, RegistrySwitchAbstract* s) {                        \
     m.name = static_cast<RegistrySwitch##type*>(s);                                \
   }},

const RegistryRow kRegistryRows[] = {ORV_REGISTRY_SWITCHES(ORV_REGISTRY_ROW)};
#undef ORV_REGISTRY_ROW
static_assert(sizeof(kRegistryRows) / sizeof(kRegistryRows[0]) == kRegistrySwitchCount);

}  // namespace

RegistrySwitchManager::RegistrySwitchManager(uint8_t* ok, PDEV* pdev) {
  *ok = 0;
  count = 0;
  for (const RegistryRow& row : kRegistryRows) {
    uint32_t value =
        (pdev->revisionBits & row.revisionMask) != 0 ? row.maskedValue : row.value;
    uint8_t built = 0;
    RegistrySwitchAbstract* registrySwitch;
    if (row.wide) {
      registrySwitch = new RegistrySwitchU32(&built, row.section, row.name,
                                             RegistrySwitchU32::kScopeDefault, value);
    } else {
      registrySwitch = new RegistrySwitchU8(&built, row.section, row.name,
                                            RegistrySwitchU8::kScopeDefault,
                                            static_cast<unsigned char>(value));
    }
    if (registrySwitch == nullptr || !built) {
      // The half-built switch is not listed yet: it goes here.
      delete registrySwitch;
      DeleteAllSwitches();
      return;
    }
    row.store(*this, registrySwitch);
    AddSwitchToList(registrySwitch);
  }
  *ok = 1;
}

RegistrySwitchManager::~RegistrySwitchManager() { DeleteAllSwitches(); }

bool RegistrySwitchManager::AddSwitchToList(RegistrySwitchAbstract* registrySwitch) {
  if (count >= kRegistrySwitchListSize) return false;
  list[count++] = registrySwitch;
  return true;
}

void RegistrySwitchManager::DeleteAllSwitches() {
  for (uint32_t i = 0; i < count; ++i) {
    delete list[i];
    list[i] = nullptr;
  }
  count = 0;
  for (const RegistryRow& row : kRegistryRows) row.store(*this, nullptr);
}
