// The main job's 3D client: a client process (platform/client3d) that
// takes its device from the X driver's direct-client hook, looked up by
// name in the loaded driver module, opens the node and draws the scene of
// platform/client3d/scene.h in a window on a screen: contexts, command
// buffer, targets, the drawable's rectangles (part of the window covered),
// the 3D context, then frames of state, clear, lit and pre-transformed
// streams and the present of its target into the window. Every request's
// answer is printed as a line "3D client: ...".
#pragma once

#include <stdint.h>

#include <memory>
#include <string>

#include "platform/client3d/scene.h"
#include "platform/kglue/glue.h"
#include "platform/xserver/server.h"

namespace maindraw {

class ClientWindow {
 public:
  // The client's process on the node.
  static constexpr uint32_t kProcess = 2000;

  // The client on `screen`, its device from the hook of the driver module
  // `driverModule` (already loaded into the process): the requests up to
  // the 3D context. Null, with why in `error`, when one was refused.
  static std::unique_ptr<ClientWindow> Start(const std::string& driverModule, ScreenPtr screen,
                                             kglue::Glue& glue, std::string* error);

  // One frame: the state, clear, lit and pre-transformed streams, the
  // present and the wait for the engine. False, with why in `error`, when a
  // request was refused.
  bool DrawFrame(std::string* error);

  // While the device is away: a stream (request 1) and the re-attach
  // (3), their answers printed.
  void ProbeWhileAway();
  // Request 3, printed: the client's answer.
  int32_t Reattach();

  const client3d::Scene& scene() const { return *scene_; }

 private:
  explicit ClientWindow(std::unique_ptr<client3d::Scene> scene) : scene_(std::move(scene)) {}

  std::unique_ptr<client3d::Scene> scene_;
};

}  // namespace maindraw
