// Direct graphics access (DGA) as a driver sees it: the mode records it
// offers per screen mode, its function record, and DGAInit; and, for
// tests, a client that uses them as a DGA client process does through the
// server (open the framebuffer and map it, set modes and viewports, fill,
// blit and sync).
//
// C linkage for what a loadable module sees. The layout is the stand-in's
// own; the names, flags and the meaning of every field are DGA's.
#pragma once

#include <stdint.h>

#include "platform/xserver/screen_layer.h"
#include "platform/xserver/xf86_types.h"

#ifdef __cplusplus
extern "C" {
#endif

// ---- Mode flags ----------------------------------------------------------------------
#define DGA_CONCURRENT_ACCESS 0x00000001  // the server may draw while the client does
#define DGA_FILL_RECT 0x00000002          // FillRect is served
#define DGA_BLIT_RECT 0x00000004          // BlitRect is served
#define DGA_BLIT_RECT_TRANS 0x00000008    // BlitTransRect is served
#define DGA_PIXMAP_AVAILABLE 0x00000010   // the client may have a pixmap of the framebuffer
#define DGA_INTERLACED 0x00010000         // the mode is interlaced
#define DGA_DOUBLESCAN 0x00020000         // the mode is line-doubled
// Viewport flags: when a new viewport takes effect.
#define DGA_FLIP_IMMEDIATE 0x00000001
#define DGA_FLIP_RETRACE 0x00000002
// OpenFramebuffer flags.
#define DGA_NEED_ROOT 0x00000001  // mapping the framebuffer needs root

typedef struct {
  int num;                  // 1.. in list order, set by DGAInit
  DisplayModePtr mode;      // the server mode it shows
  int flags;                // DGA_* above
  int imageByteOrder;
  int byteOrder;
  int depth;
  int bitsPerPixel;
  unsigned long red_mask;
  unsigned long green_mask;
  unsigned long blue_mask;
  short visualClass;
  int viewportWidth;        // pixels shown
  int viewportHeight;
  int xViewportStep;        // granularity of viewport moves
  int yViewportStep;
  int maxViewportX;         // the largest viewport origin
  int maxViewportY;
  int viewportFlags;        // DGA_FLIP_* the driver can do
  int offset;               // of the mode's memory in the mapped framebuffer
  unsigned char* address;   // the framebuffer in the server's address space
  int bytesPerScanline;
  int imageWidth;           // the framebuffer the mode reaches, pixels
  int imageHeight;
  int pixmapWidth;          // what the client may draw through a pixmap
  int pixmapHeight;
  pointer reserved1;
  pointer reserved2;
} DGAModeRec, *DGAModePtr;

typedef struct {
  // The framebuffer a client maps: a device name (null: /dev/mem), its bus
  // address, size and offset, and DGA_NEED_ROOT.
  Bool (*OpenFramebuffer)(ScrnInfoPtr pScrn, char** name, unsigned char** mem, int* size,
                          int* offset, int* flags);
  void (*CloseFramebuffer)(ScrnInfoPtr pScrn);
  // A mode of the list, or null to leave DGA.
  Bool (*SetMode)(ScrnInfoPtr pScrn, DGAModePtr pMode);
  void (*SetViewport)(ScrnInfoPtr pScrn, int x, int y, int flags);
  // Whether the last viewport change is still pending.
  int (*GetViewport)(ScrnInfoPtr pScrn);
  void (*Sync)(ScrnInfoPtr pScrn);
  void (*FillRect)(ScrnInfoPtr pScrn, int x, int y, int w, int h, unsigned long color);
  void (*BlitRect)(ScrnInfoPtr pScrn, int srcx, int srcy, int w, int h, int dstx, int dsty);
  void (*BlitTransRect)(ScrnInfoPtr pScrn, int srcx, int srcy, int w, int h, int dstx, int dsty,
                        unsigned long color);
} DGAFunctionRec, *DGAFunctionPtr;

// Keeps the screen's functions and modes (the driver keeps owning both);
// numbers the modes 1..num. False without a screen, functions or modes.
Bool DGAInit(ScreenPtr pScreen, DGAFunctionPtr funcs, DGAModePtr modes, int num);

#ifdef __cplusplus
}  // extern "C"

#include <vector>

namespace xstub {

// A DGA client of one screen, as a client process uses DGA through the
// server: every call goes to the driver's functions the way the server's
// DGA code makes it.
class DgaClient {
 public:
  explicit DgaClient(int scrnIndex);
  ~DgaClient();
  DgaClient(const DgaClient&) = delete;
  DgaClient& operator=(const DgaClient&) = delete;

  // Whether the screen offers DGA at all (DGAInit ran for it).
  bool Available() const;
  int ModeCount() const;
  // Mode `num` (1..ModeCount()).
  const DGAModeRec* Mode(int num) const;

  // Asks the driver for the framebuffer and maps it through /dev/mem, as
  // the client library does; false when the driver refuses or nothing is
  // there.
  bool OpenFramebuffer();
  void CloseFramebuffer();
  uint8_t* Framebuffer() const { return mapped_; }
  // What OpenFramebuffer answered.
  unsigned long BusAddress() const { return bus_; }
  int Size() const { return size_; }
  int OpenFlags() const { return open_flags_; }
  bool NamedDevice() const { return named_; }

  // Mode `num`; 0 leaves DGA (the driver gets a null mode).
  bool SetMode(int num);
  void SetViewport(int x, int y, int flags);
  int GetViewport();
  void Sync();
  // Calls of a function the driver left out do nothing.
  void FillRect(int x, int y, int w, int h, unsigned long color);
  void BlitRect(int srcx, int srcy, int w, int h, int dstx, int dsty);
  void BlitTransRect(int srcx, int srcy, int w, int h, int dstx, int dsty, unsigned long color);

 private:
  ScrnInfoPtr Screen() const;
  int scrn_;
  int fd_ = -1;
  void* map_base_ = nullptr;
  size_t map_length_ = 0;
  uint8_t* mapped_ = nullptr;
  unsigned long bus_ = 0;
  int size_ = 0;
  int open_flags_ = 0;
  bool named_ = false;
};

}  // namespace xstub
#endif
