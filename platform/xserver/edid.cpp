// The server's EDID reader (version 1.3 base block): vendor and product,
// version, features, and the four descriptor blocks (detailed timings,
// range limits, name, serial and text).
#include <string.h>

#include "platform/xserver/server_state.h"

namespace {

constexpr Uchar kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr int kDescriptorStart = 54;
constexpr int kDescriptorSize = 18;

// Text of a descriptor: up to 13 bytes, ended by a line feed.
void CopyDescriptorText(const Uchar* text, Uchar* out) {
  int n = 0;
  while (n < 13 && text[n] != 0x0A) {
    out[n] = text[n];
    ++n;
  }
  out[n] = 0;
}

void ReadDetailedTiming(const Uchar* d, detailed_timings* t) {
  t->clock = (d[0] | d[1] << 8) * 10000;
  t->h_active = d[2] | (d[4] & 0xF0) << 4;
  t->h_blanking = d[3] | (d[4] & 0x0F) << 8;
  t->v_active = d[5] | (d[7] & 0xF0) << 4;
  t->v_blanking = d[6] | (d[7] & 0x0F) << 8;
  t->h_sync_off = d[8] | (d[11] & 0xC0) << 2;
  t->h_sync_width = d[9] | (d[11] & 0x30) << 4;
  t->v_sync_off = (d[10] >> 4) | (d[11] & 0x0C) << 2;
  t->v_sync_width = (d[10] & 0x0F) | (d[11] & 0x03) << 4;
  t->h_size = d[12] | (d[14] & 0xF0) << 4;
  t->v_size = d[13] | (d[14] & 0x0F) << 8;
  t->h_border = d[15];
  t->v_border = d[16];
  t->interlaced = (d[17] & 0x80) != 0;
  t->sync = (d[17] >> 3) & 0x3;
  t->misc = (d[17] >> 1) & 0x3;
}

void ReadDescriptor(const Uchar* d, detailed_monitor_section* out) {
  if (d[0] != 0 || d[1] != 0) {
    out->type = DT;
    ReadDetailedTiming(d, &out->section.d_timings);
    return;
  }
  switch (d[3]) {
    case DS_SERIAL:
      out->type = DS_SERIAL;
      CopyDescriptorText(d + 5, out->section.serial);
      break;
    case DS_ASCII_STR:
      out->type = DS_ASCII_STR;
      CopyDescriptorText(d + 5, out->section.ascii_data);
      break;
    case DS_NAME:
      out->type = DS_NAME;
      CopyDescriptorText(d + 5, out->section.name);
      break;
    case DS_RANGES:
      out->type = DS_RANGES;
      out->section.ranges.min_v = d[5];
      out->section.ranges.max_v = d[6];
      out->section.ranges.min_h = d[7];
      out->section.ranges.max_h = d[8];
      out->section.ranges.max_clock = d[9] * 10;
      break;
    default:
      out->type = DS_UNKOWN;
      break;
  }
}

}  // namespace

extern "C" {

xf86MonPtr xf86InterpretEDID(int scrnIndex, Uchar* block) {
  if (block == nullptr || memcmp(block, kHeader, sizeof(kHeader)) != 0) return nullptr;
  Uchar sum = 0;
  for (int i = 0; i < EDID1_LEN; ++i) sum = static_cast<Uchar>(sum + block[i]);
  if (sum != 0) return nullptr;
  auto* m = static_cast<xf86MonPtr>(xcalloc(1, sizeof(xf86Monitor)));
  if (m == nullptr) return nullptr;
  m->scrnIndex = scrnIndex;
  memcpy(m->rawData, block, EDID1_LEN);
  const unsigned id = block[8] << 8 | block[9];
  m->vendor.name[0] = static_cast<char>('@' + ((id >> 10) & 0x1F));
  m->vendor.name[1] = static_cast<char>('@' + ((id >> 5) & 0x1F));
  m->vendor.name[2] = static_cast<char>('@' + (id & 0x1F));
  m->vendor.name[3] = 0;
  m->vendor.prod_id = block[10] | block[11] << 8;
  m->vendor.serial = static_cast<unsigned>(block[12] | block[13] << 8 | block[14] << 16 |
                                           static_cast<unsigned>(block[15]) << 24);
  m->vendor.week = block[16];
  m->vendor.year = block[17] + 1990;
  m->ver.version = block[18];
  m->ver.revision = block[19];
  m->features.input_type = (block[20] >> 7) & 1;
  m->features.hsize = block[21];
  m->features.vsize = block[22];
  m->features.gamma = block[23] == 0xFF ? 0.0f : (block[23] + 100) / 100.0f;
  for (int i = 0; i < DET_TIMINGS; ++i)
    ReadDescriptor(block + kDescriptorStart + i * kDescriptorSize, &m->det_mon[i]);
  m->no_sections = block[126];
  return m;
}

xf86MonPtr xf86PrintEDID(xf86MonPtr m) {
  if (m == nullptr) return nullptr;
  const int s = m->scrnIndex;
  xf86DrvMsg(s, X_INFO, "Manufacturer: %s  Model: %x  Serial#: %u\n", m->vendor.name,
             m->vendor.prod_id, m->vendor.serial);
  xf86DrvMsg(s, X_INFO, "Year: %d  Week: %d\n", m->vendor.year, m->vendor.week);
  xf86DrvMsg(s, X_INFO, "EDID Version: %d.%d\n", m->ver.version, m->ver.revision);
  xf86DrvMsg(s, X_INFO, "%s Display Input\n", m->features.input_type ? "Digital" : "Analog");
  for (const detailed_monitor_section& d : m->det_mon) {
    switch (d.type) {
      case DT: {
        const detailed_timings& t = d.section.d_timings;
        xf86DrvMsg(s, X_INFO, "Detailed timing: %dx%d at %d.%02d MHz%s\n", t.h_active,
                   t.v_active, t.clock / 1000000, (t.clock / 10000) % 100,
                   t.interlaced ? " interlaced" : "");
        break;
      }
      case DS_RANGES: {
        const monitor_ranges& r = d.section.ranges;
        xf86DrvMsg(s, X_INFO,
                   "Ranges: V min: %d V max: %d Hz, H min: %d H max: %d kHz, PixClock max %d MHz\n",
                   r.min_v, r.max_v, r.min_h, r.max_h, r.max_clock);
        break;
      }
      case DS_NAME:
        xf86DrvMsg(s, X_INFO, "Monitor name: %s\n", d.section.name);
        break;
      case DS_SERIAL:
        xf86DrvMsg(s, X_INFO, "Serial No: %s\n", d.section.serial);
        break;
      case DS_ASCII_STR:
        xf86DrvMsg(s, X_INFO, " %s\n", d.section.ascii_data);
        break;
      default:
        break;
    }
  }
  return m;
}

Bool xf86SetDDCproperties(ScrnInfoPtr screen, xf86MonPtr monitor) {
  xstub::detail::ServerState* s = xstub::detail::CurrentServer();
  if (screen == nullptr || monitor == nullptr) return FALSE;
  if (s != nullptr) s->ddc_properties.push_back(screen->scrnIndex);
  // The monitor's size in millimetres gives the screen's resolution.
  if (monitor->features.hsize > 0 && monitor->features.vsize > 0) {
    screen->widthmm = monitor->features.hsize * 10;
    screen->heightmm = monitor->features.vsize * 10;
  }
  return TRUE;
}

xf86MonPtr xf86DoEDID_DDC1(int, void (*)(ScrnInfoPtr, int, int), unsigned int (*)(ScrnInfoPtr)) {
  return nullptr;
}

}  // extern "C"
