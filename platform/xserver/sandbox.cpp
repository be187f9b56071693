#include "platform/xserver/sandbox.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <deque>
#include <fstream>
#include <sstream>

#include "platform/xserver/dev_mem.h"
#include "platform/xserver/state.h"

namespace xstub {

namespace detail {
namespace {

State* g_current = nullptr;

constexpr int kMaxLinks = 40;

[[noreturn]] void Die(const std::string& why) {
  fprintf(stderr, "xserver stand-in: %s\n", why.c_str());
  abort();
}

std::deque<std::string> Split(std::string_view path) {
  std::deque<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    if (slash > start) parts.emplace_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

bool SameFile(const std::string& host, dev_t device, ino_t inode) {
  struct stat st;
  return lstat(host.c_str(), &st) == 0 && st.st_dev == device &&
         st.st_ino == inode;
}

constexpr char kDefaultProcDevices[] =
    "Character devices:\n"
    "  1 mem\n"
    "  4 /dev/vc/0\n"
    "  4 tty\n"
    "  5 /dev/tty\n"
    "  5 /dev/console\n"
    " 10 misc\n"
    " 13 input\n"
    " 29 fb\n"
    "116 alsa\n"
    "128 ptm\n"
    "136 pts\n"
    "226 drm\n"
    "\n"
    "Block devices:\n"
    "  7 loop\n"
    "  8 sd\n"
    "259 blkext\n";

constexpr char kDefaultProcModules[] =
    "snd_hda_intel 57344 3 - Live 0x0000000000000000\n"
    "snd_hda_codec 184320 1 snd_hda_intel, Live 0x0000000000000000\n"
    "i2c_algo_bit 16384 0 - Live 0x0000000000000000\n";

}  // namespace

State* Current() { return g_current; }

void NoSandbox(const char* service, const char* detail) {
  fprintf(stderr,
          "xserver stand-in: %s(%s) called with no sandbox installed; "
          "refused\n",
          service, detail ? detail : "");
  errno = ENOSYS;
}

int State::Escape(const std::string& path) {
  escapes.push_back(path);
  fprintf(stderr, "xserver stand-in: path \"%s\" leaves the sandbox; refused\n",
          path.c_str());
  if (escape_handler) escape_handler(path);
  return EACCES;
}

Resolved State::Resolve(const char* path, bool follow_last) {
  if (path == nullptr) return {EFAULT, {}};
  if (*path == '\0') return {ENOENT, {}};
  if (strlen(path) >= PATH_MAX) return {ENAMETOOLONG, {}};

  // Relative paths are taken from "/": the server's working directory.
  std::deque<std::string> pending = Split(path);
  std::vector<std::string> done;
  int links = 0;
  while (!pending.empty()) {
    std::string part = std::move(pending.front());
    pending.pop_front();
    if (part == ".") continue;
    if (part == "..") {
      if (done.empty()) return {Escape(path), {}};
      done.pop_back();
      continue;
    }
    std::string host = root_text;
    for (const std::string& d : done) host += "/" + d;
    host += "/" + part;

    if (!pending.empty() || follow_last) {
      struct stat st;
      if (lstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (++links > kMaxLinks) return {ELOOP, {}};
        char target[PATH_MAX];
        ssize_t n = readlink(host.c_str(), target, sizeof target - 1);
        if (n < 0) return {errno, {}};
        target[n] = '\0';
        std::deque<std::string> expansion;
        if (target[0] == '/') {
          // An absolute target names a host path: only one inside the root
          // is followed.
          std::filesystem::path rel =
              std::filesystem::path(target).lexically_normal().lexically_relative(
                  root);
          if (rel.empty() || *rel.begin() == "..") return {Escape(path), {}};
          done.clear();
          expansion = Split(rel.generic_string());
        } else {
          expansion = Split(target);
        }
        pending.insert(pending.begin(), expansion.begin(), expansion.end());
        continue;
      }
    }
    done.push_back(std::move(part));
  }
  std::string host = root_text;
  for (const std::string& d : done) host += "/" + d;
  return {0, host};
}

const NodeRecord* State::FindNode(const std::string& host) {
  auto it = nodes.find(host);
  if (it == nodes.end()) return nullptr;
  if (!SameFile(host, it->second.host_device, it->second.host_inode)) {
    nodes.erase(it);
    return nullptr;
  }
  return &it->second;
}

const PermRecord* State::FindPerm(const std::string& host) {
  auto it = perms.find(host);
  if (it == perms.end()) return nullptr;
  if (!SameFile(host, it->second.host_device, it->second.host_inode)) {
    perms.erase(it);
    return nullptr;
  }
  return &it->second;
}

void State::Forget(const std::string& host) {
  nodes.erase(host);
  perms.erase(host);
}

void State::SetPerm(const std::string& host, mode_t permissions) {
  struct stat st;
  if (lstat(host.c_str(), &st) != 0) return;
  perms[host] = PermRecord{static_cast<mode_t>(permissions & 07777), st.st_dev,
                           st.st_ino};
}

void State::DropMappings(Endpoint* endpoint) {
  std::erase_if(mappings, [endpoint](const Mapping& m) {
    if (m.endpoint != endpoint) return false;
    if (m.registers) RemoveRegisterWindow(m.address);
    return true;
  });
}

void State::DropMappings(uint32_t major) {
  std::erase_if(mappings, [major](const Mapping& m) {
    if (m.major != major) return false;
    if (m.registers) RemoveRegisterWindow(m.address);
    return true;
  });
}

}  // namespace detail

dev_t MakeDevice(uint32_t major, uint32_t minor) {
  return makedev(major, minor);
}
uint32_t DeviceMajor(dev_t device) { return major(device); }
uint32_t DeviceMinor(dev_t device) { return minor(device); }

using detail::State;

Sandbox::Sandbox() : state_(std::make_unique<State>()) {
  if (detail::g_current != nullptr) {
    detail::Die("a second sandbox was created while one is installed");
  }
  const char* tmp = getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/orv-xroot-XXXXXX";
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    detail::Die("cannot create the sandbox root: " + std::string(strerror(errno)));
  }
  std::error_code ec;
  state_->root = std::filesystem::canonical(buffer.data(), ec);
  if (ec) detail::Die("cannot resolve the sandbox root " + std::string(buffer.data()));
  state_->root_text = state_->root.string();
  state_->owner = this;

  detail::g_current = state_.get();
  detail::ResetAllocator();

  MakeDirectories("/dev");
  MakeDirectories("/proc");
  MakeNode("/dev/mem", kMemMajor, kMemMinor, 0640);
  SetProcDevices(detail::kDefaultProcDevices);
  SetProcModules(detail::kDefaultProcModules);
  state_->mem_endpoint = detail::MakeMemEndpoint();
  RegisterEndpoint(kMemMajor, state_->mem_endpoint.get());
}

Sandbox::~Sandbox() {
  State& s = *state_;
  // What the driver left open is closed here; endpoints may already be gone,
  // so they are not called.
  for (FILE* f : s.streams) fclose(f);
  for (const auto& [fd, route] : s.open_devices) close(fd);
  for (int fd : s.open_files) close(fd);
  s.mappings.clear();
  detail::ClearRegisterWindows();
  detail::g_current = nullptr;
  detail::ResetAllocator();
  std::error_code ec;
  std::filesystem::remove_all(s.root, ec);
  if (ec) {
    fprintf(stderr, "xserver stand-in: cannot remove %s: %s\n",
            s.root_text.c_str(), ec.message().c_str());
  }
}

const std::filesystem::path& Sandbox::Root() const { return state_->root; }

std::filesystem::path Sandbox::HostPath(std::string_view system_path) const {
  std::string absolute(1, '/');
  absolute.append(system_path);
  std::filesystem::path rel =
      std::filesystem::path(absolute).lexically_normal().lexically_relative("/");
  if (rel.empty() || *rel.begin() == "..") {
    detail::Die("HostPath(\"" + std::string(system_path) + "\") leaves the root");
  }
  return rel == "." ? state_->root : state_->root / rel;
}

void Sandbox::WriteFile(std::string_view system_path, std::string_view contents) {
  std::filesystem::path host = HostPath(system_path);
  std::error_code ec;
  std::filesystem::create_directories(host.parent_path(), ec);
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!out) detail::Die("cannot write " + host.string());
  state_->Forget(host.string());
}

std::optional<std::string> Sandbox::ReadFile(std::string_view system_path) const {
  std::ifstream in(HostPath(system_path), std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Sandbox::Exists(std::string_view system_path) const {
  struct stat st;
  return lstat(HostPath(system_path).c_str(), &st) == 0;
}

void Sandbox::MakeDirectories(std::string_view system_path) {
  std::error_code ec;
  std::filesystem::create_directories(HostPath(system_path), ec);
  if (ec) detail::Die("cannot create " + std::string(system_path));
}

void Sandbox::MakeNode(std::string_view system_path, uint32_t major,
                       uint32_t minor, mode_t permissions, bool block) {
  std::string host = HostPath(system_path).string();
  int fd = open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    detail::Die("cannot create node " + std::string(system_path) + ": " +
                strerror(errno));
  }
  struct stat st;
  fstat(fd, &st);
  close(fd);
  state_->nodes[host] = detail::NodeRecord{
      static_cast<mode_t>((block ? S_IFBLK : S_IFCHR) | (permissions & 07777)),
      MakeDevice(major, minor), st.st_dev, st.st_ino};
}

std::optional<NodeInfo> Sandbox::Node(std::string_view system_path) const {
  const detail::NodeRecord* node = state_->FindNode(HostPath(system_path).string());
  if (node == nullptr) return std::nullopt;
  return NodeInfo{node->mode, DeviceMajor(node->device), DeviceMinor(node->device)};
}

void Sandbox::SetProcDevices(std::string_view contents) {
  WriteFile("/proc/devices", contents);
}

void Sandbox::SetProcModules(std::string_view contents) {
  WriteFile("/proc/modules", contents);
}

void Sandbox::AddCharDevice(uint32_t major, std::string_view name) {
  std::string text = ReadFile("/proc/devices").value_or("");
  char line[128];
  snprintf(line, sizeof line, "%3u %.*s\n", major, static_cast<int>(name.size()),
           name.data());

  const std::string header = "Character devices:\n";
  size_t section = text.find(header);
  if (section == std::string::npos) {
    text = header + line + "\n" + text;
  } else {
    // The section ends at its blank line (or at the block section, or at
    // the end of the file).
    size_t pos = section + header.size();
    while (pos < text.size() && text[pos] != '\n' &&
           text.compare(pos, 6, "Block ") != 0) {
      size_t eol = text.find('\n', pos);
      pos = eol == std::string::npos ? text.size() : eol + 1;
    }
    if (pos == text.size() && text.back() != '\n') {
      text += '\n';
      pos = text.size();
    }
    text.insert(pos, line);
  }
  SetProcDevices(text);
}

void Sandbox::AddModule(std::string_view name) {
  std::string text = ReadFile("/proc/modules").value_or("");
  if (!text.empty() && text.back() != '\n') text += '\n';
  text += std::string(name) + " 16384 0 - Live 0x0000000000000000\n";
  SetProcModules(text);
}

const std::vector<std::string>& Sandbox::Escapes() const { return state_->escapes; }

const std::vector<FileCall>& Sandbox::FileCalls() const { return state_->file_calls; }
void Sandbox::ClearFileCalls() { state_->file_calls.clear(); }

void Sandbox::SetEscapeHandler(std::function<void(const std::string&)> handler) {
  state_->escape_handler = std::move(handler);
}

void Sandbox::RegisterEndpoint(uint32_t major, Endpoint* endpoint) {
  if (endpoint == nullptr) detail::Die("RegisterEndpoint with a null endpoint");
  auto it = state_->endpoints.find(major);
  if (it != state_->endpoints.end() && it->second != endpoint) {
    UnregisterEndpoint(major);
  }
  state_->endpoints[major] = endpoint;
}

void Sandbox::UnregisterEndpoint(uint32_t major) {
  auto it = state_->endpoints.find(major);
  if (it == state_->endpoints.end()) return;
  state_->endpoints.erase(it);
  for (auto& [fd, route] : state_->open_devices) {
    if (route.major == major) route.endpoint = nullptr;
  }
  state_->DropMappings(major);
}

size_t Sandbox::OpenDeviceCount() const { return state_->open_devices.size(); }
size_t Sandbox::MappingCount() const { return state_->mappings.size(); }

void Sandbox::ProvideKernelModule(std::string_view name, uint32_t major,
                                  Endpoint* endpoint) {
  if (endpoint == nullptr) detail::Die("ProvideKernelModule with a null endpoint");
  state_->modules[std::string(name)] = detail::ModuleProvider{major, endpoint, false};
}

const std::vector<std::string>& Sandbox::KernelModuleLoads() const {
  return state_->module_loads;
}

uint64_t Sandbox::SleptMicroseconds() const { return state_->slept_us; }

const std::vector<Message>& Sandbox::Messages() const { return state_->messages; }

std::string Sandbox::LogText() const {
  std::string text;
  for (const Message& m : state_->messages) text += m.text;
  return text;
}

bool Sandbox::Logged(std::string_view text, std::optional<MessageType> type) const {
  for (const Message& m : state_->messages) {
    if (type && m.type != *type) continue;
    if (m.text.find(text) != std::string::npos) return true;
  }
  return false;
}

void Sandbox::ClearMessages() { state_->messages.clear(); }
void Sandbox::EchoMessages(bool on) { state_->echo = on; }

}  // namespace xstub
