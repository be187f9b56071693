// The module loader: driver modules by dlopen (or linked in), the version
// record check before set-up, symbol lists, the server's sub-modules, module
// extensions and the driver list.
#include <dlfcn.h>
#include <stdarg.h>
#include <string.h>

#include <string>

#include "platform/xserver/server_state.h"

namespace xstub {
namespace {

// The sub-modules of the server. Their code is part of the stand-in, so
// loading one only records it; a test may withhold any of them.
const char* const kSubModules[] = {"vgahw", "int10", "ddc", "xaa", "fb", "ramdac", "shadowfb",
                                   "i2c", "vbe"};

bool KnownSubModule(std::string_view name) {
  for (const char* known : kSubModules) {
    if (name == known) return true;
  }
  return false;
}

// What a loaded sub-module handle points at: one distinct byte per name.
char g_sub_module_handles[sizeof(kSubModules) / sizeof(kSubModules[0])];

pointer SubModuleHandle(std::string_view name) {
  for (size_t i = 0; i < sizeof(kSubModules) / sizeof(kSubModules[0]); ++i) {
    if (name == kSubModules[i]) return &g_sub_module_handles[i];
  }
  return nullptr;
}

// The module's name from its file: the base name up to its first '_'.
std::string ModuleName(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t cut = base.find('_');
  if (cut == std::string::npos) cut = base.find('.');
  return base.substr(0, cut);
}

// Checks the version record; empty when it is acceptable.
std::string CheckVersion(const XF86ModuleVersionInfo* v) {
  if (v == nullptr) return "module has no version record";
  if (v->_modinfo1_ != MODINFOSTRING1 || v->_modinfo2_ != MODINFOSTRING2)
    return "module version record has wrong magic words";
  if (v->abiclass == nullptr || strcmp(v->abiclass, ABI_CLASS_VIDEODRV) != 0)
    return "module ABI class is not \"" ABI_CLASS_VIDEODRV "\"";
  const uint32_t major = v->abiversion >> 16;
  const uint32_t minor = v->abiversion & 0xFFFF;
  if (major != (kVideoDriverAbi >> 16) || minor > (kVideoDriverAbi & 0xFFFF))
    return "module ABI version " + std::to_string(major) + "." + std::to_string(minor) +
           " does not fit the server's " + std::to_string(kVideoDriverAbi >> 16) + "." +
           std::to_string(kVideoDriverAbi & 0xFFFF);
  return {};
}

void AppendSymbols(std::vector<std::string>& out, const char** list) {
  for (; list != nullptr && *list != nullptr; ++list) out.emplace_back(*list);
}

}  // namespace

XServer::LoadResult XServer::LoadModuleData(std::string_view name, const XF86ModuleData* data) {
  LoadResult result;
  if (data == nullptr) {
    result.error = "no module data record";
    result.errmaj = LDR_INVALID;
    return result;
  }
  result.error = CheckVersion(data->vers);
  if (!result.error.empty()) {
    result.errmaj = LDR_MISMATCH;
    return result;
  }
  pointer answer = data->setup != nullptr
                       ? data->setup(const_cast<XF86ModuleData*>(data), nullptr, &result.errmaj,
                                     &result.errmin)
                       : pointer(1);
  if (answer == nullptr) {
    result.error = "module set-up failed";
    return result;
  }
  state_->modules.push_back({std::string(name), nullptr, data});
  result.ok = true;
  return result;
}

XServer::LoadResult XServer::LoadModule(const std::string& host_path) {
  LoadResult result;
  void* handle = dlopen(host_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    result.error = why != nullptr ? why : "dlopen failed";
    result.errmaj = LDR_NOLOAD;
    return result;
  }
  const std::string name = ModuleName(host_path);
  auto* data = static_cast<const XF86ModuleData*>(dlsym(handle, (name + "ModuleData").c_str()));
  if (data == nullptr) {
    dlclose(handle);
    result.error = "no symbol " + name + "ModuleData";
    result.errmaj = LDR_INVALID;
    return result;
  }
  result = LoadModuleData(name, data);
  if (!result.ok) {
    dlclose(handle);
    return result;
  }
  state_->modules.back().handle = handle;
  return result;
}

void XServer::WithholdSubModule(std::string_view name) { state_->withheld.emplace(name); }

const std::vector<SubModuleLoad>& XServer::SubModuleLoads() const { return state_->sub_loads; }

bool XServer::SubModuleLoaded(std::string_view name) const {
  for (const SubModuleLoad& l : state_->sub_loads) {
    if (l.name == name && l.loaded) return true;
  }
  return false;
}

const std::vector<std::string>& XServer::ReferencedSymbols() const {
  return state_->referenced_symbols;
}
const std::vector<std::string>& XServer::RequiredSymbols() const {
  return state_->required_symbols;
}

void XServer::OfferSymbol(std::string_view name, void* address) {
  if (address == nullptr) {
    state_->offered_symbols.erase(std::string(name));
  } else {
    state_->offered_symbols[std::string(name)] = address;
  }
}

const std::vector<ExtensionModule>& XServer::Extensions() const { return state_->extensions; }
const std::vector<DriverPtr>& XServer::Drivers() const { return state_->drivers; }

namespace detail {

// Modules opened with dlopen close when the server ends, after every
// record that may point into them is gone.
void CloseModules(ServerState& s) {
  for (auto it = s.modules.rbegin(); it != s.modules.rend(); ++it) {
    if (it->handle != nullptr) dlclose(it->handle);
  }
  s.modules.clear();
}

}  // namespace detail
}  // namespace xstub

using xstub::detail::CurrentServer;
using xstub::detail::ServerState;

extern "C" {

void LoaderRefSymLists(const char** list0, ...) {
  ServerState* s = CurrentServer();
  if (s == nullptr) return;
  va_list args;
  va_start(args, list0);
  for (const char** list = list0; list != nullptr; list = va_arg(args, const char**)) {
    xstub::AppendSymbols(s->referenced_symbols, list);
  }
  va_end(args);
}

void xf86LoaderReqSymLists(const char** list0, ...) {
  ServerState* s = CurrentServer();
  if (s == nullptr) return;
  va_list args;
  va_start(args, list0);
  for (const char** list = list0; list != nullptr; list = va_arg(args, const char**)) {
    xstub::AppendSymbols(s->required_symbols, list);
  }
  va_end(args);
}

void xf86LoaderReqSymbols(const char* symbol0, ...) {
  ServerState* s = CurrentServer();
  if (s == nullptr) return;
  va_list args;
  va_start(args, symbol0);
  for (const char* symbol = symbol0; symbol != nullptr; symbol = va_arg(args, const char*)) {
    s->required_symbols.emplace_back(symbol);
  }
  va_end(args);
}

Bool xf86LoaderCheckSymbol(const char* name) { return LoaderSymbol(name) != nullptr; }

void* LoaderSymbol(const char* name) {
  ServerState* s = CurrentServer();
  if (s == nullptr || name == nullptr) return nullptr;
  auto it = s->offered_symbols.find(name);
  return it == s->offered_symbols.end() ? nullptr : it->second;
}

static pointer LoadSub(int screen, const char* name) {
  ServerState* s = CurrentServer();
  if (s == nullptr || name == nullptr) return nullptr;
  const bool loadable = xstub::KnownSubModule(name) && s->withheld.count(name) == 0;
  s->sub_loads.push_back({name, screen, loadable});
  if (!loadable) {
    xf86Msg(X_ERROR, "LoadModule: Module %s does not exist\n", name);
    return nullptr;
  }
  return xstub::SubModuleHandle(name);
}

pointer xf86LoadSubModule(ScrnInfoPtr screen, const char* name) {
  return LoadSub(screen != nullptr ? screen->scrnIndex : -1, name);
}

pointer xf86LoadDrvSubModule(DriverPtr, const char* name) { return LoadSub(-1, name); }

void xf86UnloadSubModule(pointer) {}

void LoadExtension(ExtensionModule* extension, Bool) {
  ServerState* s = CurrentServer();
  if (s == nullptr || extension == nullptr || extension->name == nullptr) return;
  s->extensions.push_back(*extension);
}

void xf86AddDriver(DriverPtr driver, pointer module, int) {
  ServerState* s = CurrentServer();
  if (s == nullptr || driver == nullptr) return;
  driver->module = module;
  s->drivers.push_back(driver);
}

}  // extern "C"
