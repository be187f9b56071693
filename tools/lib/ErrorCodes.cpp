#include "tools/lib/ErrorCodes.h"

const char* const szErrorMsg[kErrorCodeCount] = {
    "No error",
    "Problem when parsing config file",
    "A valid config file cannot be found. Note : A config file that contains minimum xorg "
    "configure section (ServerLayout and InputSection) must already exist.",
    "Warning : This tool supports only one video card per system. If you have more than one "
    "video card, this tool only consider the first one detected.",
    "You don't have enough permission for writing this file",
    "Card with pci device id not in database",
    "kvd option cannot be used with qlb driver",
    "only one bpp supported in this mode.",
    "only one refresh rate supported in this mode.",
    "only one rotate mode supported in this mode.",
    "only one resolution supported in this mode.",
    "rotate not supported in this mode",
    "A refresh rate is lower than 60Hz",
    "A refresh rate is higher than 100Hz.",
    "qlb driver supports 2 outputs maximum",
    "orv driver supports 4 outputs maximum",
    "kvd boards support 2 or 4 outputs only",
    "Driver type doesn't match board capability.",
    "Kvd attribute doesn't match board capability.",
    "GL attribute doesn't match board capability.",
    "number of output exceed board capability.",
    "bpp can only be 8, 16 or 24.",
    "In Xinerama mode, bit per pixel must be the same for every displays",
    "square layout is only for kvd boards in 4 outputs config.",
    "vertical layout is not supported for kvd boards.",
    "The current configuration file contains at least 2 modes section. Please merge the modes "
    "section together or use the switch --overwrite to fix the problem.",
    "Orvane card can't be found in system or in card database",
};

const char* ErrorCodeToString(int32_t code) {
  if (code < 0 || code >= kErrorCodeCount) return "";
  return szErrorMsg[code];
}
