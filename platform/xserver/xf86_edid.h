// The server's reading of a monitor's EDID block (version 1.3): what a
// driver reads of it (vendor, version, features, the four descriptor blocks
// with detailed timings and range limits) and the calls around it.
#pragma once

#include "platform/xserver/xf86_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define EDID1_LEN 128
#define DET_TIMINGS 4

// Kinds of the four descriptor blocks.
#define DT 0              // a detailed timing
#define DS_SERIAL 0xFF    // monitor serial number text
#define DS_ASCII_STR 0xFE // free text
#define DS_RANGES 0xFD    // range limits
#define DS_NAME 0xFC      // monitor name text
#define DS_UNKOWN 0x100   // any other descriptor

struct vendor {
  char name[4];  // three letters and a terminator
  int prod_id;
  unsigned int serial;
  int week;
  int year;
};

struct edid_version {
  int version;
  int revision;
};

struct disp_features {
  unsigned int input_type : 1;  // 1 digital
  int hsize, vsize;             // cm
  float gamma;
};

struct detailed_timings {
  int clock;  // Hz
  int h_active, h_blanking, v_active, v_blanking;
  int h_sync_off, h_sync_width, v_sync_off, v_sync_width;
  int h_size, v_size, h_border, v_border;
  Bool interlaced;
  int sync;  // bits 3-4 of the flags byte
  int misc;  // bits 1-2 of the flags byte
};

struct monitor_ranges {
  int min_v, max_v;  // Hz
  int min_h, max_h;  // kHz
  int max_clock;     // MHz
};

struct detailed_monitor_section {
  int type;  // DT, DS_*
  union {
    struct detailed_timings d_timings;
    Uchar serial[14];  // text blocks: up to 13 characters, terminated
    Uchar ascii_data[14];
    Uchar name[14];
    struct monitor_ranges ranges;
  } section;
};

typedef struct xf86Monitor {
  int scrnIndex;
  struct vendor vendor;
  struct edid_version ver;
  struct disp_features features;
  struct detailed_monitor_section det_mon[DET_TIMINGS];
  Uchar rawData[EDID1_LEN];
  int no_sections;  // extension blocks that follow
} xf86Monitor, *xf86MonPtr;

// Interprets a 128-byte block; null when the header or checksum is wrong.
// The record is xalloc'd; it belongs to whoever keeps it.
xf86MonPtr xf86InterpretEDID(int scrnIndex, Uchar* block);
// Logs the interpreted block; answers it.
xf86MonPtr xf86PrintEDID(xf86MonPtr monitor);
// Hands the monitor's description to the server (its size for the DPI).
Bool xf86SetDDCproperties(ScrnInfoPtr screen, xf86MonPtr monitor);
// DDC1 reading is not offered: answers null.
xf86MonPtr xf86DoEDID_DDC1(int scrnIndex, void (*dpms)(ScrnInfoPtr, int, int),
                           unsigned int (*read)(ScrnInfoPtr));

#ifdef __cplusplus
}  // extern "C"
#endif
