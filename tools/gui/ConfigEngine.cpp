#include "tools/gui/ConfigEngine.h"

#include "tools/gui/GuiAssert.h"

namespace {
ConfigEngine* s_engine = nullptr;
}

void SetConfigEngine(ConfigEngine* engine) { s_engine = engine; }

ConfigEngine& GetConfigEngine() {
  GUI_ASSERT(s_engine != nullptr);
  return *s_engine;
}
