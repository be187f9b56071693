#include "platform/orvcfg/fake_orvcfg_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace {

// Core requests the fake answers; every other core request that expects a
// reply gets an error, so a client never waits forever.
constexpr uint8_t X_GetProperty = 20;
constexpr uint8_t X_GetInputFocus = 43;
constexpr uint8_t X_QueryExtension = 98;
constexpr uint8_t kCoreWithReply[] = {3,  14, 15, 16, 17,  20,  21,  23,  26,  31,  38,  39,
                                      40, 43, 44, 47, 48,  49,  50,  52,  73,  83,  84,  85,
                                      86, 87, 91, 92, 97,  98,  99,  101, 103, 106, 108, 110,
                                      116, 117, 118, 119};

constexpr uint8_t kBadRequest = 1;
constexpr uint8_t kBadImplementation = 17;
constexpr uint32_t kRootWindow = 0x000000ab;
constexpr uint32_t kRootVisual = 0x00000021;
constexpr uint32_t kDefaultColormap = 0x00000020;
constexpr int kPollMs = 50;
constexpr const char* kExtensionName = "ORVCFG";

size_t Pad4(size_t n) { return (n + 3) & ~size_t(3); }

void Put8(std::vector<uint8_t>& b, size_t at, uint8_t v) { b[at] = v; }
void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) { std::memcpy(&b[at], &v, 2); }
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

bool ReadAll(int fd, void* buf, size_t n, const std::atomic<bool>& stop) {
  auto* p = static_cast<uint8_t*>(buf);
  while (n > 0) {
    pollfd pfd{fd, POLLIN, 0};
    int r = poll(&pfd, 1, kPollMs);
    if (stop) return false;
    if (r <= 0) continue;
    ssize_t got = read(fd, p, n);
    if (got <= 0) return false;
    p += got;
    n -= size_t(got);
  }
  return true;
}

bool WriteAll(int fd, const std::vector<uint8_t>& b) {
  size_t done = 0;
  while (done < b.size()) {
    ssize_t n = send(fd, b.data() + done, b.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

std::vector<uint8_t> ErrorPacket(uint8_t code, uint16_t sequence, uint8_t major, uint16_t minor) {
  std::vector<uint8_t> e(32, 0);
  Put8(e, 0, 0);
  Put8(e, 1, code);
  Put16(e, 2, sequence);
  Put16(e, 8, minor);
  Put8(e, 10, major);
  return e;
}

std::vector<uint8_t> ReplyPacket(uint16_t sequence, uint32_t extraWords = 0) {
  std::vector<uint8_t> r(32 + size_t(extraWords) * 4, 0);
  Put8(r, 0, 1);
  Put16(r, 2, sequence);
  Put32(r, 4, extraWords);
  return r;
}

}  // namespace

FakeOrvCfgServer::FakeOrvCfgServer(bool withExtension) : withExtension_(withExtension) {}

FakeOrvCfgServer::~FakeOrvCfgServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) close(listenFd_);
}

bool FakeOrvCfgServer::Start() {
  // Abstract sockets leave nothing behind on disk; the client library tries
  // them before the socket file.
  std::mt19937 rng(std::random_device{}());
  for (int attempt = 0; attempt < 200; ++attempt) {
    int display = 2000 + int(rng() % 20000);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = "/tmp/.X11-unix/X" + std::to_string(display);
    std::memcpy(addr.sun_path + 1, path.data(), path.size());
    socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + path.size());
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 && listen(fd, 4) == 0) {
      listenFd_ = fd;
      display_ = display;
      thread_ = std::thread([this] { Serve(); });
      return true;
    }
    close(fd);
  }
  return false;
}

std::string FakeOrvCfgServer::DisplayName() const { return ":" + std::to_string(display_); }

void FakeOrvCfgServer::SetReply(uint8_t minor, std::vector<uint8_t> data,
                                std::optional<uint32_t> extraWords) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_[minor] = Reply{std::move(data), extraWords};
}

void FakeOrvCfgServer::SetError(uint8_t minor) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_.erase(minor);
}

void FakeOrvCfgServer::RecordRequests(bool record) { recordRequests_ = record; }

std::vector<FakeOrvCfgServer::Request> FakeOrvCfgServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void FakeOrvCfgServer::Serve() {
  while (!stop_) {
    pollfd pfd{listenFd_, POLLIN, 0};
    if (poll(&pfd, 1, kPollMs) <= 0) continue;
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    HandleConnection(fd);
    close(fd);
  }
}

bool FakeOrvCfgServer::SendSetup(int fd) {
  const char vendor[] = "fake";
  const size_t vendorLen = 4;
  // Fixed part (32), vendor, one pixmap format (8), one screen (40) with
  // one depth (8) holding one visual (24).
  const size_t body = 32 + Pad4(vendorLen) + 8 + 40 + 8 + 24;
  std::vector<uint8_t> s(8 + body, 0);
  Put8(s, 0, 1);  // success
  Put16(s, 2, 11);
  Put16(s, 4, 0);
  Put16(s, 6, uint16_t(body / 4));
  size_t p = 8;
  Put32(s, p + 0, 1);           // release
  Put32(s, p + 4, 0x00200000);  // resource id base
  Put32(s, p + 8, 0x001fffff);  // resource id mask
  Put16(s, p + 16, uint16_t(vendorLen));
  Put16(s, p + 18, 0xffff);     // maximum request length
  Put8(s, p + 20, 1);           // screens
  Put8(s, p + 21, 1);           // pixmap formats
  Put8(s, p + 24, 32);          // bitmap scanline unit
  Put8(s, p + 25, 32);          // bitmap scanline pad
  Put8(s, p + 26, 8);           // min keycode
  Put8(s, p + 27, 255);         // max keycode
  p += 32;
  std::memcpy(&s[p], vendor, vendorLen);
  p += Pad4(vendorLen);
  Put8(s, p + 0, 24);  // depth
  Put8(s, p + 1, 32);  // bits per pixel
  Put8(s, p + 2, 32);  // scanline pad
  p += 8;
  Put32(s, p + 0, kRootWindow);
  Put32(s, p + 4, kDefaultColormap);
  Put32(s, p + 8, 0x00ffffff);  // white
  Put32(s, p + 12, 0);          // black
  Put16(s, p + 20, 1024);
  Put16(s, p + 22, 768);
  Put16(s, p + 24, 270);
  Put16(s, p + 26, 203);
  Put16(s, p + 28, 1);
  Put16(s, p + 30, 1);
  Put32(s, p + 32, kRootVisual);
  Put8(s, p + 38, 24);  // root depth
  Put8(s, p + 39, 1);   // depths
  p += 40;
  Put8(s, p + 0, 24);
  Put16(s, p + 2, 1);  // visuals
  p += 8;
  Put32(s, p + 0, kRootVisual);
  Put8(s, p + 4, 4);  // TrueColor
  Put8(s, p + 5, 8);
  Put16(s, p + 6, 256);
  Put32(s, p + 8, 0x00ff0000);
  Put32(s, p + 12, 0x0000ff00);
  Put32(s, p + 16, 0x000000ff);
  return WriteAll(fd, s);
}

void FakeOrvCfgServer::HandleConnection(int fd) {
  uint8_t prefix[12];
  if (!ReadAll(fd, prefix, sizeof prefix, stop_)) return;
  uint16_t nameLen, dataLen;
  std::memcpy(&nameLen, prefix + 6, 2);
  std::memcpy(&dataLen, prefix + 8, 2);
  std::vector<uint8_t> auth(Pad4(nameLen) + Pad4(dataLen));
  if (!auth.empty() && !ReadAll(fd, auth.data(), auth.size(), stop_)) return;
  if (!SendSetup(fd)) return;

  uint16_t sequence = 0;
  for (;;) {
    std::vector<uint8_t> req(4);
    if (!ReadAll(fd, req.data(), 4, stop_)) return;
    uint16_t words;
    std::memcpy(&words, &req[2], 2);
    if (words == 0) return;  // big requests are never enabled here
    req.resize(size_t(words) * 4);
    if (words > 1 && !ReadAll(fd, req.data() + 4, req.size() - 4, stop_)) return;
    ++sequence;
    if (!HandleRequest(fd, req, sequence)) return;
  }
}

bool FakeOrvCfgServer::HandleRequest(int fd, const std::vector<uint8_t>& req, uint16_t sequence) {
  const uint8_t major = req[0];
  if (major == X_QueryExtension) {
    uint16_t n = 0;
    if (req.size() >= 8) std::memcpy(&n, &req[4], 2);
    std::string name;
    if (req.size() >= 8 + size_t(n)) name.assign(reinterpret_cast<const char*>(&req[8]), n);
    std::vector<uint8_t> r = ReplyPacket(sequence);
    if (name == kExtensionName) {
      ++queryExtensionCount_;
      if (withExtension_) {
        Put8(r, 8, 1);
        Put8(r, 9, kMajorOpcode);
      }
    }
    return WriteAll(fd, r);
  }
  if (major == X_GetProperty) return WriteAll(fd, ReplyPacket(sequence));
  if (major == X_GetInputFocus) {
    std::vector<uint8_t> r = ReplyPacket(sequence);
    Put32(r, 8, kRootWindow);
    return WriteAll(fd, r);
  }
  if (major == kMajorOpcode && withExtension_) {
    const uint8_t minor = req.size() > 1 ? req[1] : 0;
    std::optional<Reply> reply;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (recordRequests_) requests_.push_back({minor, req});
      auto it = replies_.find(minor);
      if (it != replies_.end()) reply = it->second;
    }
    if (!reply) return WriteAll(fd, ErrorPacket(kBadRequest, sequence, major, minor));
    uint32_t extra = reply->extraWords.value_or(
        reply->data.size() > 24 ? uint32_t((reply->data.size() - 24 + 3) / 4) : 0);
    std::vector<uint8_t> r = ReplyPacket(sequence, extra);
    size_t n = std::min(reply->data.size(), r.size() - 8);
    if (n) std::memcpy(&r[8], reply->data.data(), n);
    return WriteAll(fd, r);
  }
  for (uint8_t op : kCoreWithReply) {
    if (op == major) return WriteAll(fd, ErrorPacket(kBadImplementation, sequence, major, 0));
  }
  if (major >= 128) return WriteAll(fd, ErrorPacket(kBadRequest, sequence, major, req[1]));
  return true;  // a request without reply
}
