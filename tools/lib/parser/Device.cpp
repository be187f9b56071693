// Device sections.

#include <cstdio>
#include <cstdlib>

#include "tools/lib/parser/read.h"
#include "tools/lib/parser/scan.h"
#include "tools/lib/parser/write.h"

using namespace xconf;

namespace {

const XConfKeyword kDeviceTab[] = {
    {kTokEndSection, "endsection"},
    {kTokIdentifier, "identifier"},
    {kTokVendorName, "vendorname"},
    {kTokBoardName, "BoardName"},
    {kTokChipset, "chipset"},
    {kTokRamdac, "ramdac"},
    {kTokDacSpeed, "dacspeed"},
    {kTokClocks, "clocks"},
    {kTokOption, "option"},
    {kTokVideoRam, "videoram"},
    {kTokBiosBase, "biosbase"},
    {kTokMemBase, "membase"},
    {kTokIoBase, "iobase"},
    {kTokClockChip, "clockchip"},
    {kTokChipId, "chipid"},
    {kTokChipRev, "chiprev"},
    {kTokCard, "card"},
    {kTokDriver, "driver"},
    {kTokBusId, "busid"},
    {kTokTextClockFreq, "textclockfreq"},
    {kTokIrq, "irq"},
    {kTokScreen, "screen"},
    {-1, ""},
};

void ParseDacSpeed(XConfDevice* dev) {
  for (int& speed : dev->dacspeeds) speed = 0;
  if (xf86getSubToken(&dev->comment) != kTokNumber)
    Fail("The DacSpeed keyword must be followed by a list of up to %d numbers.",
         kConfMaxDacSpeeds);
  dev->dacspeeds[0] = MHzToKHz(xf86tokenValue().realnum);
  for (int i = 1; i < kConfMaxDacSpeeds; ++i) {
    int token = xf86getSubToken(&dev->comment);
    if (token != kTokNumber) {
      xf86unGetToken(token);
      break;
    }
    dev->dacspeeds[i] = MHzToKHz(xf86tokenValue().realnum);
  }
}

void ParseClocks(XConfDevice* dev) {
  for (;;) {
    int token = xf86getSubToken(&dev->comment);
    if (token != kTokNumber) {
      xf86unGetToken(token);
      return;
    }
    if (dev->clocks >= kConfMaxClocks) Fail(kMsgInvalidKeyword, xf86tokenString());
    dev->clock[dev->clocks++] = MHzToKHz(xf86tokenValue().realnum);
  }
}

void ParseDeviceBody(XConfDevice* dev) {
  for (;;) {
    int token = xf86getToken(kDeviceTab);
    char** c = &dev->comment;
    switch (token) {
      case kTokEndSection:
        if (dev->identifier == nullptr) Fail("%s", kMsgNoIdentifier);
        return;
      case kTokComment:
        dev->comment = xf86addComment(dev->comment, xf86tokenString());
        break;
      case kTokIdentifier: SetIdentifier(&dev->identifier, c); break;
      case kTokVendorName: SetString(&dev->vendor, ExpectString(c, "Vendor")); break;
      case kTokBoardName: SetString(&dev->board, ExpectString(c, "Board")); break;
      case kTokChipset: SetString(&dev->chipset, ExpectString(c, "Chipset")); break;
      case kTokCard: SetString(&dev->card, ExpectString(c, "Card")); break;
      case kTokDriver: SetString(&dev->driver, ExpectString(c, "Driver")); break;
      case kTokRamdac: SetString(&dev->ramdac, ExpectString(c, "Ramdac")); break;
      case kTokBusId: SetString(&dev->busid, ExpectString(c, "BusID")); break;
      case kTokClockChip: SetString(&dev->clockchip, ExpectString(c, "ClockChip")); break;
      case kTokVideoRam: dev->videoram = ExpectInt(c, "VideoRam"); break;
      case kTokBiosBase:
        ExpectInt(c, "BIOSBase");
        dev->bios_base = xf86tokenValue().unum;
        break;
      case kTokMemBase: ExpectInt(c, "MemBase");
        dev->mem_base = xf86tokenValue().unum; break;
      case kTokIoBase: ExpectInt(c, "IOBase");
        dev->io_base = xf86tokenValue().unum; break;
      case kTokChipId: dev->chipid = ExpectInt(c, "ChipID"); break;
      case kTokChipRev: dev->chiprev = ExpectInt(c, "ChipRev"); break;
      case kTokIrq: dev->irq = ExpectInt(c, "IRQ"); break;
      case kTokScreen: dev->screen = ExpectInt(c, "Screen"); break;
      case kTokTextClockFreq:
        dev->textclockfreq = MHzToKHz(ExpectReal(c, "TextClockFreq"));
        break;
      case kTokDacSpeed: ParseDacSpeed(dev); break;
      case kTokClocks: ParseClocks(dev); break;
      case kTokOption: dev->options = xf86parseOption(dev->options); break;
      default: FailToken(token);
    }
  }
}

void FreeDevice(XConfDevice* dev) {
  std::free(dev->identifier);
  std::free(dev->vendor);
  std::free(dev->board);
  std::free(dev->chipset);
  std::free(dev->busid);
  std::free(dev->card);
  std::free(dev->driver);
  std::free(dev->ramdac);
  std::free(dev->clockchip);
  xf86optionListFree(dev->options);
  std::free(dev->comment);
  std::free(dev);
}

}  // namespace

XConfDevice* xf86parseDeviceSection() {
  XConfDevice* dev = nullptr;
  try {
    dev = NewRecord<XConfDevice>();
    dev->chipid = -1;
    dev->chiprev = -1;
    dev->irq = -1;
    dev->screen = -1;
    ParseDeviceBody(dev);
  } catch (const ParseAbort&) {
    if (dev != nullptr) FreeDevice(dev);
    return nullptr;
  }
  return dev;
}

void xf86printDeviceSection(FILE* cf, XConfDevice* list) {
  for (XConfDevice* d = list; d != nullptr; d = d->next) {
    PrintSectionHead(cf, "Device", d->comment);
    if (d->identifier) std::fprintf(cf, "\tIdentifier  \"%s\"\n", Quoted(d->identifier));
    if (d->driver) std::fprintf(cf, "\tDriver      \"%s\"\n", Quoted(d->driver));
    if (d->vendor) std::fprintf(cf, "\tVendorName  \"%s\"\n", Quoted(d->vendor));
    if (d->board) std::fprintf(cf, "\tBoardName   \"%s\"\n", Quoted(d->board));
    if (d->chipset) std::fprintf(cf, "\tChipSet     \"%s\"\n", Quoted(d->chipset));
    if (d->card) std::fprintf(cf, "\tCard        \"%s\"\n", Quoted(d->card));
    if (d->ramdac) std::fprintf(cf, "\tRamDac      \"%s\"\n", Quoted(d->ramdac));
    if (d->dacspeeds[0] > 0) {
      std::fprintf(cf, "\tDacSpeed    ");
      for (int speed : d->dacspeeds) {
        if (speed > 0) std::fprintf(cf, "%s ", FormatKHzAsMHzShort(speed).c_str());
      }
      std::fprintf(cf, "\n");
    }
    if (d->videoram) std::fprintf(cf, "\tVideoRam    %d\n", d->videoram);
    if (d->bios_base) std::fprintf(cf, "\tBiosBase    0x%lx\n", d->bios_base);
    if (d->mem_base) std::fprintf(cf, "\tMemBase     0x%lx\n", d->mem_base);
    if (d->io_base) std::fprintf(cf, "\tIOBase      0x%lx\n", d->io_base);
    if (d->clockchip) std::fprintf(cf, "\tClockChip   \"%s\"\n", Quoted(d->clockchip));
    if (d->chipid != -1) std::fprintf(cf, "\tChipId      0x%x\n", d->chipid);
    if (d->chiprev != -1) std::fprintf(cf, "\tChipRev     0x%x\n", d->chiprev);
    xf86printOptionList(cf, d->options, 1);
    if (d->clocks > 0) {
      std::fprintf(cf, "\tClocks      ");
      for (int i = 0; i < d->clocks && i < kConfMaxClocks; ++i)
        std::fprintf(cf, "%s ", FormatKHzAsMHz(d->clock[i]).c_str());
      std::fprintf(cf, "\n");
    }
    if (d->textclockfreq)
      std::fprintf(cf, "\tTextClockFreq %s\n", FormatKHzAsMHz(d->textclockfreq).c_str());
    if (d->busid) std::fprintf(cf, "\tBusID       \"%s\"\n", Quoted(d->busid));
    if (d->screen != -1) std::fprintf(cf, "\tScreen      %d\n", d->screen);
    if (d->irq >= 0) std::fprintf(cf, "\tIRQ         %d\n", d->irq);
    std::fprintf(cf, "EndSection\n\n");
  }
}

XConfDevice* xf86findDevice(const char* name, XConfDevice* list) {
  for (; list != nullptr; list = list->next) {
    if (xf86nameCompare(name, list->identifier) == 0) return list;
  }
  return nullptr;
}

int xf86validateDevice(XConfFile* file) {
  for (XConfDevice* d = file->devices; d != nullptr; d = d->next) {
    if (d->driver == nullptr) {
      xf86validationError("Device section \"%s\" must have a Driver line.", d->identifier);
      return 0;
    }
  }
  return 1;
}

void xf86freeDeviceList(XConfDevice* list) {
  while (list != nullptr) {
    XConfDevice* next = list->next;
    FreeDevice(list);
    list = next;
  }
}
