// Page size, sleeping and the kernel-module loader.
#include <stdio.h>

#include "platform/board/simulation.h"
#include "platform/xserver/state.h"
#include "platform/xserver/xservices.h"

extern "C" {

int xf86getpagesize(void) { return static_cast<int>(xstub::kPageSize); }

// Time passes on the simulated clock only; nothing really sleeps.
void xf86usleep(unsigned long microseconds) {
  xstub::detail::State* s = xstub::detail::Current();
  if (s == nullptr) return;
  s->slept_us += microseconds;
  if (orvsim::Clock* clock = s->SimClock()) clock->AdvanceMicroseconds(microseconds);
}

unsigned int xf86sleep(unsigned int seconds) {
  xf86usleep(static_cast<unsigned long>(seconds) * 1000000ul);
  return 0;
}

int xf86LoadKernelModule(const char* name) {
  xstub::detail::State* s = xstub::detail::Current();
  if (s == nullptr) {
    xstub::detail::NoSandbox("xf86LoadKernelModule", name);
    return 0;
  }
  if (name == nullptr) return 0;
  s->module_loads.emplace_back(name);
  auto it = s->modules.find(name);
  if (it == s->modules.end()) return 0;
  xstub::detail::ModuleProvider& module = it->second;
  if (!module.loaded) {
    module.loaded = true;
    xstub::Sandbox* box = s->owner;
    box->AddModule(name);
    box->AddCharDevice(module.major, name);
    box->RegisterEndpoint(module.major, module.endpoint);
  }
  return 1;
}

}  // extern "C"

namespace xstub {

namespace detail {

orvsim::PciBus* State::Bus() const {
  if (bus != nullptr) return bus;
  orvsim::Simulation* sim = orvsim::Simulation::Current();
  return sim ? &sim->Pci() : nullptr;
}

orvsim::PhysicalMap* State::PhysMap() const {
  if (phys_map != nullptr) return phys_map;
  orvsim::Simulation* sim = orvsim::Simulation::Current();
  return sim ? &sim->Phys() : nullptr;
}

orvsim::Clock* State::SimClock() const {
  if (clock != nullptr) return clock;
  orvsim::Simulation* sim = orvsim::Simulation::Current();
  return sim ? &sim->GetClock() : nullptr;
}

}  // namespace detail

void Sandbox::AttachBus(orvsim::PciBus* bus) { state_->bus = bus; }
void Sandbox::AttachPhysicalMap(orvsim::PhysicalMap* map) {
  if (map != state_->phys_map) {
    // Register windows came from the old map's boards.
    std::erase_if(state_->mappings, [this](const detail::Mapping& m) {
      return m.endpoint == state_->mem_endpoint.get();
    });
    detail::ClearRegisterWindows();
  }
  state_->phys_map = map;
}
void Sandbox::AttachClock(orvsim::Clock* clock) { state_->clock = clock; }

}  // namespace xstub
