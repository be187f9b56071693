// The PCI bus as the server sees it (display devices found by a scan), the
// matching of drivers' Device sections to boards, bus entities with their
// instances, sharing and private slots, resources and access callbacks.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "platform/xserver/server_state.h"

namespace xstub::detail {
namespace {

constexpr int kPciCommand = 0x04;
constexpr int kPciClassRevision = 0x08;
constexpr int kPciHeaderType = 0x0E;
constexpr int kPciFirstBar = 0x10;
constexpr int kPciSubsystem = 0x2C;
constexpr int kPciRom = 0x30;
constexpr uint32_t kCommandIo = 0x1;
constexpr uint32_t kBaseClassDisplay = 0x03;
constexpr uint32_t kSubClassVga = 0x00;

int Log2(uint64_t size) {
  int n = 0;
  while (size > 1) {
    size >>= 1;
    ++n;
  }
  return n;
}

// Sizes a base address register as the server does: all ones, read the
// mask, restore.
uint64_t SizeBar(PCITAG tag, int offset, bool wide) {
  const uint32_t low = pciReadLong(tag, offset);
  pciWriteLong(tag, offset, 0xFFFFFFFF);
  uint64_t mask = pciReadLong(tag, offset) & ((low & 1) ? ~0x3u : ~0xFu);
  pciWriteLong(tag, offset, low);
  if (wide) {
    const uint32_t high = pciReadLong(tag, offset + 4);
    pciWriteLong(tag, offset + 4, 0xFFFFFFFF);
    mask |= static_cast<uint64_t>(pciReadLong(tag, offset + 4)) << 32;
    pciWriteLong(tag, offset + 4, high);
  } else {
    mask |= 0xFFFFFFFF00000000ull;
  }
  if ((mask & 0xFFFFFFFFull) == 0 && !wide) return 0;
  return ~mask + 1;
}

void ReadFunction(ServerState& s, int bus, int device, int function) {
  const PCITAG tag = pciTag(bus, device, function);
  const uint32_t id = pciReadLong(tag, 0);
  if (id == 0xFFFFFFFF) return;
  const uint32_t class_rev = pciReadLong(tag, kPciClassRevision);
  if ((class_rev >> 24) != kBaseClassDisplay) return;
  auto pci = std::make_unique<pciVideoRec>();
  pci->vendor = static_cast<int>(id & 0xFFFF);
  pci->chipType = static_cast<int>(id >> 16);
  pci->chipRev = static_cast<int>(class_rev & 0xFF);
  const uint32_t subsystem = pciReadLong(tag, kPciSubsystem);
  pci->subsysVendor = static_cast<int>(subsystem & 0xFFFF);
  pci->subsysCard = static_cast<int>(subsystem >> 16);
  pci->bus = bus;
  pci->device = device;
  pci->func = function;
  pci->pciClass = static_cast<int>(class_rev >> 24);
  pci->subclass = static_cast<int>((class_rev >> 16) & 0xFF);
  pci->interface = static_cast<int>((class_rev >> 8) & 0xFF);
  pci->listed_class = class_rev >> 8;
  for (int i = 0; i < 6; ++i) {
    const int offset = kPciFirstBar + 4 * i;
    const uint32_t bar = pciReadLong(tag, offset);
    if (bar == 0) continue;
    const bool io = (bar & 1) != 0;
    const bool wide = !io && ((bar >> 1) & 3) == 2 && i < 5;
    const uint64_t size = SizeBar(tag, offset, wide);
    if (io) {
      pci->ioBase[i] = bar & ~0x3u;
    } else {
      uint64_t base = bar & ~0xFu;
      if (wide) base |= static_cast<uint64_t>(pciReadLong(tag, offset + 4)) << 32;
      pci->memBase[i] = static_cast<unsigned long>(base);
    }
    pci->size[i] = Log2(size);
    pci->type[i] = static_cast<unsigned char>(bar & (io ? 0x3 : 0xF));
    if (wide) ++i;  // the upper half is no range of its own
  }
  const uint32_t rom = pciReadLong(tag, kPciRom);
  if (rom & ~0x7FFu) {
    pci->biosBase = rom & ~0x7FFu;
    pciWriteLong(tag, kPciRom, 0xFFFFF800);
    const uint32_t mask = pciReadLong(tag, kPciRom) & ~0x7FFu;
    pciWriteLong(tag, kPciRom, rom);
    pci->biosSize = mask != 0 ? Log2(~mask + 1ull) : 0;
  }
  pci->validSize = TRUE;
  s.pci_devices.push_back(std::move(pci));
}

}  // namespace

PciLocationId LocationOf(const pciVideoRec& pci) { return {pci.bus, pci.device, pci.func}; }

void ServerState::ScanPci() {
  if (pci_scanned) return;
  pci_scanned = true;
  for (int bus = 0; bus < 256; ++bus) {
    for (int device = 0; device < 32; ++device) {
      const PCITAG tag = pciTag(bus, device, 0);
      if (pciReadLong(tag, 0) == 0xFFFFFFFF) continue;
      const bool multi = (pciReadByte(tag, kPciHeaderType) & 0x80) != 0;
      for (int function = 0; function < (multi ? 8 : 1); ++function)
        ReadFunction(*this, bus, device, function);
    }
  }
  for (auto& p : pci_devices) pci_list.push_back(p.get());
  pci_list.push_back(nullptr);
  if (!primary_set) {
    for (size_t i = 0; i < pci_devices.size(); ++i) {
      const pciVideoRec& p = *pci_devices[i];
      const PCITAG tag = pciTag(p.bus, p.device, p.func);
      if (p.subclass == kSubClassVga && (pciReadWord(tag, kPciCommand) & kCommandIo)) {
        primary = static_cast<int>(i);
        break;
      }
    }
  }
}

Entity* ServerState::EntityAt(int index) {
  if (index < 0 || index >= static_cast<int>(entities.size())) return nullptr;
  return entities[static_cast<size_t>(index)].get();
}

namespace {

// "PCI:bus:device:function" (the "PCI:" may be left out), decimal.
bool ParseBusId(const char* text, PciLocationId* at) {
  if (text == nullptr) return false;
  if (strncasecmp(text, "PCI:", 4) == 0) text += 4;
  int bus = 0, device = 0, function = 0;
  char extra = 0;
  if (sscanf(text, "%d:%d:%d%c", &bus, &device, &function, &extra) != 3) return false;
  if (bus < 0 || bus > 255 || device < 0 || device > 31 || function < 0 || function > 7)
    return false;
  *at = {bus, device, function};
  return true;
}

bool ChipMatches(const pciVideoRec& pci, int vendorID, const PciChipsets* chips, int* token) {
  if (chips == nullptr) return false;
  for (const PciChipsets* c = chips; c->numChipset != -1; ++c) {
    const bool full = (c->PCIid >> 16) != 0;
    const int vendor = full ? (c->PCIid >> 16) : vendorID;
    const int device = c->PCIid & 0xFFFF;
    if (pci.vendor == vendor && pci.chipType == device) {
      *token = c->numChipset;
      return true;
    }
  }
  return false;
}

}  // namespace
}  // namespace xstub::detail

namespace xstub {

void XServer::SetPrimaryPci(PciLocationId at) {
  detail::ServerState& s = *state_;
  s.ScanPci();
  s.primary_set = true;
  s.primary = -1;
  for (size_t i = 0; i < s.pci_devices.size(); ++i) {
    if (detail::LocationOf(*s.pci_devices[i]) == at) s.primary = static_cast<int>(i);
  }
}

void XServer::ForceResourceConflict(PciLocationId at) { state_->conflicts.insert(at); }

int XServer::NumEntities() const { return static_cast<int>(state_->entities.size()); }

const EntityInfoRec* XServer::Entity(int index) const {
  detail::Entity* e = state_->EntityAt(index);
  return e != nullptr ? &e->info : nullptr;
}

bool XServer::EntityClaimed(int index) const {
  detail::Entity* e = state_->EntityAt(index);
  return e != nullptr && e->claimed;
}

const std::vector<ResourceState>& XServer::OperatingStates(int entity) const {
  static const std::vector<ResourceState> kNone;
  detail::Entity* e = state_->EntityAt(entity);
  return e != nullptr ? e->operating : kNone;
}

bool XServer::ResourcesRegistered(int entity) const {
  detail::Entity* e = state_->EntityAt(entity);
  return e != nullptr && e->registered;
}

bool XServer::RunAccessEnable(int entity, AccessKind kind) {
  detail::Entity* e = state_->EntityAt(entity);
  if (e == nullptr || !e->access_set) return false;
  const xf86AccessRec& r = kind == AccessKind::kMem  ? e->access_mem
                           : kind == AccessKind::kIo ? e->access_io
                                                     : e->access_io_mem;
  if (r.AccessEnable == nullptr) return false;
  r.AccessEnable(r.arg);
  return true;
}

}  // namespace xstub

using xstub::PciLocationId;
using xstub::detail::CurrentServer;
using xstub::detail::Entity;
using xstub::detail::ServerState;

extern "C" {

resRange resVgaIo[] = {{ResIo | ResExclusive, 0x3B0, 0x3BB},
                       {ResIo | ResExclusive, 0x3C0, 0x3DF},
                       _END};
resRange resVgaMem[] = {{ResMem | ResExclusive, 0xA0000, 0xAFFFF},
                        {ResMem | ResExclusive, 0xB8000, 0xBFFFF},
                        {ResMem | ResExclusive, 0xB0000, 0xB7FFF},
                        _END};

pciVideoPtr* xf86GetPciVideoInfo(void) {
  ServerState* s = CurrentServer();
  if (s == nullptr) return nullptr;
  s->ScanPci();
  return s->pci_devices.empty() ? nullptr : s->pci_list.data();
}

int xf86MatchPciInstances(const char* driverName, int vendorID, SymTabPtr, PciChipsets* chips,
                          GDevPtr* devList, int numDevs, DriverPtr driver, int** foundEntities) {
  if (foundEntities != nullptr) *foundEntities = nullptr;
  ServerState* s = CurrentServer();
  if (s == nullptr || foundEntities == nullptr || devList == nullptr || numDevs <= 0) return 0;
  s->ScanPci();

  // The boards of the driver's chips, in bus order.
  struct Board {
    pciVideoPtr pci;
    int token;
    std::vector<GDevPtr> sections;
  };
  std::vector<Board> boards;
  for (auto& p : s->pci_devices) {
    int token = 0;
    if (xstub::detail::ChipMatches(*p, vendorID, chips, &token)) boards.push_back({p.get(), token, {}});
  }
  if (boards.empty()) return 0;

  // A BusID claims its board; a section without one claims the only board.
  for (int i = 0; i < numDevs; ++i) {
    GDevPtr dev = devList[i];
    if (dev == nullptr) continue;
    if (dev->busID != nullptr && *dev->busID != '\0') {
      PciLocationId at;
      if (!xstub::detail::ParseBusId(dev->busID, &at)) {
        xf86Msg(X_ERROR, "%s: BusID \"%s\" of Device section \"%s\" is not understood\n",
                driverName, dev->busID, dev->identifier);
        continue;
      }
      for (Board& b : boards) {
        if (xstub::detail::LocationOf(*b.pci) == at) b.sections.push_back(dev);
      }
    } else if (boards.size() == 1) {
      boards[0].sections.push_back(dev);
    } else {
      xf86Msg(X_WARNING,
              "%s: Device section \"%s\" has no BusID and more than one board is present\n",
              driverName, dev->identifier);
    }
  }

  std::vector<int> found;
  for (Board& b : boards) {
    if (b.sections.empty()) continue;
    // The heads of a board, by the sections' Screen numbers.
    std::stable_sort(b.sections.begin(), b.sections.end(),
                     [](GDevPtr a, GDevPtr c) { return a->screen < c->screen; });
    std::vector<GDevPtr> heads;
    for (GDevPtr d : b.sections) {
      if (!heads.empty() && heads.back()->screen == d->screen) {
        xf86Msg(X_ERROR,
                "%s: More than one Device section for Screen %d of the board at "
                "PCI:%d:%d:%d; \"%s\" is ignored\n",
                driverName, d->screen, b.pci->bus, b.pci->device, b.pci->func, d->identifier);
        continue;
      }
      heads.push_back(d);
    }
    // One entity per board, found again on a second match.
    Entity* entity = nullptr;
    int index = -1;
    for (size_t e = 0; e < s->entities.size(); ++e) {
      if (s->entities[e]->pci == b.pci) {
        entity = s->entities[e].get();
        index = static_cast<int>(e);
      }
    }
    if (entity == nullptr) {
      auto fresh = std::make_unique<Entity>();
      index = static_cast<int>(s->entities.size());
      fresh->info.index = index;
      fresh->info.location.type = BUS_PCI;
      fresh->info.location.id.pci = {b.pci->bus, b.pci->device, b.pci->func};
      fresh->info.chipset = b.token;
      fresh->pci = b.pci;
      entity = fresh.get();
      s->entities.push_back(std::move(fresh));
    }
    entity->instances = heads;
    entity->info.device = heads.front();
    entity->info.driver = driver;
    for (size_t h = 0; h < heads.size(); ++h) found.push_back(index);
  }
  if (found.empty()) return 0;
  int* list = static_cast<int*>(xcalloc(found.size(), sizeof(int)));
  if (list == nullptr) return 0;
  std::copy(found.begin(), found.end(), list);
  *foundEntities = list;
  return static_cast<int>(found.size());
}

ScrnInfoPtr xf86ConfigPciEntity(ScrnInfoPtr screen, int scrnFlag, int entityIndex, PciChipsets*,
                                resList, EntityProc, EntityProc, EntityProc, pointer) {
  ServerState* s = CurrentServer();
  Entity* entity = s != nullptr ? s->EntityAt(entityIndex) : nullptr;
  if (entity == nullptr) return nullptr;
  if (screen == nullptr) screen = xf86AllocateScreen(entity->info.driver, scrnFlag);
  if (screen->numEntities >= xstub::detail::kMaxScreenEntities) return nullptr;
  screen->entityList[screen->numEntities] = entityIndex;
  screen->entityInstanceList[screen->numEntities] = 0;
  ++screen->numEntities;
  entity->claimed = true;
  entity->info.active = TRUE;
  ++entity->screens;
  return screen;
}

void xf86SetEntitySharable(int entityIndex) {
  ServerState* s = CurrentServer();
  if (Entity* e = s != nullptr ? s->EntityAt(entityIndex) : nullptr) e->sharable = true;
}

Bool xf86IsEntitySharable(int entityIndex) {
  ServerState* s = CurrentServer();
  Entity* e = s != nullptr ? s->EntityAt(entityIndex) : nullptr;
  return e != nullptr && e->sharable;
}

Bool xf86IsEntityShared(int entityIndex) {
  ServerState* s = CurrentServer();
  Entity* e = s != nullptr ? s->EntityAt(entityIndex) : nullptr;
  return e != nullptr && e->sharable && e->screens > 1;
}

void xf86SetEntityInstanceForScreen(ScrnInfoPtr screen, int entityIndex, int instance) {
  if (screen == nullptr) return;
  for (int i = 0; i < screen->numEntities; ++i) {
    if (screen->entityList[i] == entityIndex) screen->entityInstanceList[i] = instance;
  }
}

int xf86GetNumEntityInstances(int entityIndex) {
  ServerState* s = CurrentServer();
  Entity* e = s != nullptr ? s->EntityAt(entityIndex) : nullptr;
  return e != nullptr ? static_cast<int>(e->instances.size()) : 0;
}

GDevPtr xf86GetDevFromEntity(int entityIndex, int instance) {
  ServerState* s = CurrentServer();
  Entity* e = s != nullptr ? s->EntityAt(entityIndex) : nullptr;
  if (e == nullptr || instance < 0 || instance >= static_cast<int>(e->instances.size()))
    return nullptr;
  return e->instances[static_cast<size_t>(instance)];
}

EntityInfoPtr xf86GetEntityInfo(int entityIndex) {
  ServerState* s = CurrentServer();
  Entity* e = s != nullptr ? s->EntityAt(entityIndex) : nullptr;
  if (e == nullptr) return nullptr;
  auto* copy = static_cast<EntityInfoPtr>(xcalloc(1, sizeof(EntityInfoRec)));
  if (copy != nullptr) *copy = e->info;
  return copy;
}

pciVideoPtr xf86GetPciInfoForEntity(int entityIndex) {
  ServerState* s = CurrentServer();
  Entity* e = s != nullptr ? s->EntityAt(entityIndex) : nullptr;
  return e != nullptr ? e->pci : nullptr;
}

Bool xf86IsPrimaryPci(pciVideoPtr pci) {
  ServerState* s = CurrentServer();
  if (s == nullptr || pci == nullptr) return FALSE;
  s->ScanPci();
  return s->primary >= 0 && s->pci_devices[static_cast<size_t>(s->primary)].get() == pci;
}

Bool xf86IsEntityPrimary(int entityIndex) {
  return xf86IsPrimaryPci(xf86GetPciInfoForEntity(entityIndex));
}

int xf86AllocateEntityPrivateIndex(void) {
  static int next = 0;  // once per process, as drivers keep the index
  if (next >= xstub::kPrivateSlots) return -1;
  return next++;
}

DevUnion* xf86GetEntityPrivate(int entityIndex, int privIndex) {
  ServerState* s = CurrentServer();
  Entity* e = s != nullptr ? s->EntityAt(entityIndex) : nullptr;
  if (e == nullptr || privIndex < 0 || privIndex >= xstub::kPrivateSlots) return nullptr;
  return &e->privates[privIndex];
}

void xf86PrintChipsets(const char* drvname, const char* drvmsg, SymTabPtr chips) {
  std::string names;
  for (SymTabPtr c = chips; c != nullptr && c->token != -1 && c->name != nullptr; ++c) {
    if (!names.empty()) names += ", ";
    names += c->name;
  }
  xf86Msg(X_INFO, "%s: %s: %s\n", drvname, drvmsg, names.c_str());
}

Bool xf86ServerIsOnlyDetecting(void) {
  ServerState* s = CurrentServer();
  return s != nullptr && s->detecting;
}

int xf86GetVerbosity(void) { return 1; }

Bool xf86SetOperatingState(resList list, int entityIndex, int mask) {
  ServerState* s = CurrentServer();
  Entity* e = s != nullptr ? s->EntityAt(entityIndex) : nullptr;
  if (e == nullptr) return FALSE;
  xstub::ResourceState state;
  state.mask = mask;
  for (resList r = list; r != nullptr && r->type != ResEnd; ++r) state.ranges.push_back(*r);
  e->operating.push_back(std::move(state));
  return TRUE;
}

resPtr xf86RegisterResources(int entityIndex, resList, int) {
  ServerState* s = CurrentServer();
  Entity* e = s != nullptr ? s->EntityAt(entityIndex) : nullptr;
  if (e == nullptr) return nullptr;
  if (s->conflicts.count(xstub::detail::LocationOf(*e->pci)) == 0) {
    e->registered = true;
    return nullptr;
  }
  // The conflict is the board's first memory range, held by someone else.
  auto record = std::make_unique<resRec>();
  record->val = {ResMem | ResExclusive, e->pci->memBase[0],
                 e->pci->memBase[0] + (1ul << e->pci->size[0]) - 1};
  record->entityIndex = -1;
  xf86Msg(X_ERROR, "Resource conflict: entity %d at PCI:%d:%d:%d\n", entityIndex, e->pci->bus,
          e->pci->device, e->pci->func);
  s->conflict_records.push_back(std::move(record));
  return s->conflict_records.back().get();
}

void xf86SetAccessFuncs(EntityInfoPtr entity, xf86SetAccessFuncPtr funcs,
                        xf86SetAccessFuncPtr) {
  ServerState* s = CurrentServer();
  Entity* e = s != nullptr && entity != nullptr ? s->EntityAt(entity->index) : nullptr;
  if (e == nullptr || funcs == nullptr) return;
  if (funcs->mem != nullptr) e->access_mem = *funcs->mem;
  if (funcs->io != nullptr) e->access_io = *funcs->io;
  if (funcs->io_mem != nullptr) e->access_io_mem = *funcs->io_mem;
  e->access_set = true;
}

}  // extern "C"
