// Fuzz target of the decoding of the configuration extension's timing
// record (the body of a detailed-timing reply, and each timing of an
// output-state reply) into the tools' mode line. Any record must decode,
// and encoding the mode line again, as a validation request does, must give
// back the server's timing: the same active sizes, porches, sync widths,
// polarities and pixel clock.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/orvcfg_records.h"
#include "tools/lib/XCommInterface.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ORVCFGVideoMode reply{};
  if (size > 0) std::memcpy(&reply, data, size < sizeof reply ? size : sizeof reply);

  UiModeLine line;
  std::memset(&line, 0, sizeof line);
  std::strcpy(line.name, "kept");
  ConvertORVCFGValidateOutputToUiModeLine(&line, &reply);
  if (std::strcmp(line.name, "kept") != 0) std::abort();

  ORVCFGVideoMode again;
  ConvertUiModeLineToORVCFGVideoMode(&again, &line);
  const uint32_t kept[][2] = {
      {reply.ulHActive, again.ulHActive},         {reply.ulHFrontPorch, again.ulHFrontPorch},
      {reply.ulHSyncWidth, again.ulHSyncWidth},   {reply.ulHBackPorch, again.ulHBackPorch},
      {reply.ulVActive, again.ulVActive},         {reply.ulVFrontPorch, again.ulVFrontPorch},
      {reply.ulVSyncWidth, again.ulVSyncWidth},   {reply.ulVBackPorch, again.ulVBackPorch},
  };
  for (const auto& pair : kept)
    if (pair[0] != pair[1]) std::abort();
  const uint32_t polarities = ORVCFG_MODE_HSYNC_POSITIVE | ORVCFG_MODE_VSYNC_POSITIVE;
  if ((reply.ulFlags & polarities) != (again.ulFlags & polarities)) std::abort();
  // A clock the mode line holds as a signed kHz count comes back exactly.
  if (reply.ulPixClock <= uint32_t(INT32_MAX) && again.ulPixClock != reply.ulPixClock)
    std::abort();
  return 0;
}
