// A small X server for tests: it accepts connections on a display of its
// own, answers the few core requests the client library sends while it
// opens and closes a display, and serves the "ORVCFG" extension from canned
// replies, recording every extension request it receives.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class FakeOrvCfgServer {
 public:
  static constexpr uint8_t kMajorOpcode = 151;

  // Without the extension, QueryExtension answers "not present".
  explicit FakeOrvCfgServer(bool withExtension = true);
  ~FakeOrvCfgServer();
  FakeOrvCfgServer(const FakeOrvCfgServer&) = delete;
  FakeOrvCfgServer& operator=(const FakeOrvCfgServer&) = delete;

  // Listens on a free display number; false when none could be bound.
  bool Start();
  // The DISPLAY text that reaches this server (":N").
  std::string DisplayName() const;

  // The reply to extension request `minor`: `data` goes to reply offset 8
  // onwards. The reply's length field says `extraWords` when given, else as
  // many words as `data` needs beyond the 24 bytes the reply body holds; the
  // data is padded or cut to fit.
  void SetReply(uint8_t minor, std::vector<uint8_t> data,
                std::optional<uint32_t> extraWords = std::nullopt);
  // Request `minor` is answered with an X error (the default for requests
  // without a canned reply).
  void SetError(uint8_t minor);

  struct Request {
    uint8_t minor;
    std::vector<uint8_t> bytes;  // the whole request as received
  };
  std::vector<Request> Requests() const;
  // Whether extension requests are recorded (the default); a harness that
  // sends millions of them keeps the record from growing.
  void RecordRequests(bool record);
  int QueryExtensionCount() const { return queryExtensionCount_; }

 private:
  struct Reply {
    std::vector<uint8_t> data;
    std::optional<uint32_t> extraWords;
  };

  void Serve();
  void HandleConnection(int fd);
  bool SendSetup(int fd);
  bool HandleRequest(int fd, const std::vector<uint8_t>& req, uint16_t sequence);

  const bool withExtension_;
  int listenFd_ = -1;
  int display_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<int> queryExtensionCount_{0};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::map<uint8_t, Reply> replies_;
  std::vector<Request> requests_;
  std::atomic<bool> recordRequests_{true};
};
