#include "tests/maindraw/client_window.h"

#include <stdio.h>

#include <vector>

namespace maindraw {

namespace {

constexpr uint32_t kRequestReattach = 3;
constexpr uint32_t kRequestWaitIdle = 4;

std::string Answer(int32_t answer) { return std::to_string(answer); }

}  // namespace

std::unique_ptr<ClientWindow> ClientWindow::Start(const std::string& driverModule, ScreenPtr screen,
                                                  kglue::Glue& glue, std::string* error) {
  client3d::DirectClient direct;
  *error = client3d::EnableDirectClient(driverModule, screen, &direct);
  if (!error->empty()) return nullptr;
  OrvDevice* device = glue.DeviceByMinor(direct.minor);
  if (device == nullptr || direct.deviceHandle == 0) {
    *error = "ORVGLXEnableDirectClient named minor " + std::to_string(direct.minor) + ", which has no device";
    return nullptr;
  }
  auto scene = std::make_unique<client3d::Scene>(glue, device, client3d::SceneLayout{}, kProcess);
  const client3d::SceneLayout& l = scene->layout();
  printf("3D client: process %u, the device of minor %u from ORVGLXEnableDirectClient, window (%d,%d)-(%d,%d), "
         "%zu visible rectangles\n",
         kProcess, unsigned{direct.minor}, l.window.left, l.window.top, l.window.right, l.window.bottom,
         l.visible.size());
  const int opened = scene->Open(direct.deviceHandle);
  printf("3D client: context (request 31): %d\n", opened);
  if (opened != 0) {
    *error = "request 31 answered " + Answer(opened);
    return nullptr;
  }
  const bool buffer = scene->CreateCommandBuffer();
  printf("3D client: command buffer (request 5): %s\n", buffer ? "made" : "refused");
  const bool surfaces = scene->CreateSurfaces();
  printf("3D client: colour, depth and primary surfaces (request 12): %s\n", surfaces ? "made" : "refused");
  if (!buffer || !surfaces) {
    *error = !buffer ? "request 5 was refused" : "request 12 was refused";
    return nullptr;
  }
  const int32_t rects = scene->SetDrawableRects();
  printf("3D client: drawable rectangles (request 29): %d\n", rects);
  const uint32_t context = rects == 0 ? scene->CreateContext3d() : 0;
  printf("3D client: 3D context (request 10): %s\n", context != 0 ? "made" : "refused");
  if (rects != 0 || context == 0) {
    *error = rects != 0 ? "request 29 answered " + Answer(rects) : "request 10 was refused";
    return nullptr;
  }
  return std::unique_ptr<ClientWindow>(new ClientWindow(std::move(scene)));
}

bool ClientWindow::DrawFrame(std::string* error) {
  client3d::Scene& s = *scene_;
  const struct {
    const char* name;
    client3d::TokenWriter stream;
  } streams[] = {{"state", s.StateStream()},
                 {"clear", s.ClearStream()},
                 {"lit", s.LitStream()},
                 {"pre-transformed", s.ScreenStream()}};
  std::string line = "3D client: streams (request 1):";
  bool ok = true;
  for (const auto& st : streams) {
    const int32_t answer = s.Run(st.stream);
    line += std::string(" ") + st.name + " " + Answer(answer) + ",";
    if (answer != 0 && ok) {
      ok = false;
      *error = std::string("the ") + st.name + " stream answered " + Answer(answer);
    }
  }
  const int32_t present = ok ? s.Present() : 0;
  const int32_t idle = ok ? s.client().Run(kRequestWaitIdle) : 0;
  if (ok) {
    line += " present (16) " + Answer(present) + ", wait for idle (4) " + Answer(idle);
    if (present != 0 || idle != 0) {
      ok = false;
      *error = present != 0 ? "the present answered " + Answer(present) : "the wait answered " + Answer(idle);
    }
  } else {
    line.pop_back();
  }
  printf("%s\n", line.c_str());
  return ok;
}

void ClientWindow::ProbeWhileAway() {
  const int32_t stream = scene_->Run(scene_->StateStream());
  const int32_t reattach = scene_->client().Run(kRequestReattach);
  printf("3D client while away: state stream (request 1) %d, re-attach (3) %d\n", stream, reattach);
}

int32_t ClientWindow::Reattach() {
  const int32_t answer = scene_->client().Run(kRequestReattach);
  printf("3D client: re-attach (request 3): %d\n", answer);
  return answer;
}

}  // namespace maindraw
