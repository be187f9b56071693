#include "tools/lib/XValidationInterface.h"

#include <memory>

#include "tools/lib/XCommInterface.h"

namespace {

constexpr int kBoard = 0;

int OutputType(int output) {
  auto state = std::make_unique<ORVCFGOutputState>();
  ORVCommGetOutputState(kBoard, output, state.get());
  return int(state->ulInputType);
}

}  // namespace

int XValidGetOutputType(int output) { return OutputType(output); }

int XValidValidateModeLine(int output, const UiModeLine* mode) {
  bool ordered = mode->hdisplay < mode->hsyncstart && mode->hsyncstart < mode->hsyncend &&
                 mode->hsyncend < mode->htotal && mode->vdisplay < mode->vsyncstart &&
                 mode->vsyncstart < mode->vsyncend && mode->vsyncend < mode->vtotal;
  if (!ordered) return 0;
  return ORVCommValidateMode(kBoard, output, OutputType(output), mode);
}

int XValidValidateModeLineEDID(int output, const UiModeLine* mode) {
  return ORVCommValidateModeEDID(kBoard, output, OutputType(output), mode);
}

int XValidFindModeLine(int /*ignored*/, int width, int height, int refresh, UiModeLine* out) {
  ORVCommGetDetailledTiming(width, height, refresh, out);
  return 1;
}
