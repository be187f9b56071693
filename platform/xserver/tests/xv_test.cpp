// The Xv stand-in: regions, atoms, registering adaptors and off-screen
// images, the colour-key helper, and the request decoder against a
// recording adaptor in both byte orders.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/xserver/region.h"
#include "platform/xserver/sandbox.h"
#include "platform/xserver/screen_layer.h"
#include "platform/xserver/server.h"
#include "platform/xserver/xv.h"
#include "platform/xserver/xv_server.h"

namespace {

// ---- Regions -------------------------------------------------------------------------------

std::vector<BoxRec> Boxes(RegionPtr r) {
  return std::vector<BoxRec>(REGION_RECTS(r), REGION_RECTS(r) + REGION_NUM_RECTS(r));
}

bool SameBox(const BoxRec& a, const BoxRec& b) {
  return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
}

TEST(XvRegion, IntersectionKeepsTheFirstRegionsOrderAndItsExtents) {
  xstub::Sandbox box;
  const BoxRec two[] = {{0, 0, 10, 10}, {20, 0, 30, 10}};
  RegionRec a, b, c;
  REGION_NULL(nullptr, &a);
  ASSERT_TRUE(miRegionFromBoxes(&a, two, 2));
  BoxRec cut{5, 2, 25, 8};
  REGION_INIT(nullptr, &b, &cut, 1);
  REGION_NULL(nullptr, &c);
  ASSERT_TRUE(REGION_INTERSECT(nullptr, &c, &a, &b));
  auto boxes = Boxes(&c);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_TRUE(SameBox(boxes[0], BoxRec{5, 2, 10, 8}));
  EXPECT_TRUE(SameBox(boxes[1], BoxRec{20, 2, 25, 8}));
  EXPECT_TRUE(SameBox(*REGION_EXTENTS(nullptr, &c), BoxRec{5, 2, 25, 8}));

  // In place, down to one box, then to nothing.
  BoxRec left{0, 0, 12, 12};
  RegionRec l;
  REGION_INIT(nullptr, &l, &left, 1);
  ASSERT_TRUE(REGION_INTERSECT(nullptr, &c, &c, &l));
  EXPECT_EQ(REGION_NUM_RECTS(&c), 1);
  EXPECT_TRUE(SameBox(REGION_RECTS(&c)[0], BoxRec{5, 2, 10, 8}));
  BoxRec away{50, 50, 60, 60};
  RegionRec far;
  REGION_INIT(nullptr, &far, &away, 1);
  ASSERT_TRUE(REGION_INTERSECT(nullptr, &c, &c, &far));
  EXPECT_FALSE(REGION_NOTEMPTY(nullptr, &c));
  EXPECT_EQ(REGION_NUM_RECTS(&c), 0);

  for (RegionPtr r : {&a, &b, &c, &l, &far}) REGION_UNINIT(nullptr, r);
  EXPECT_EQ(box.LiveAllocations(), 0u);
}

TEST(XvRegion, CopyAndEqualityCompareBoxesInOrder) {
  xstub::Sandbox box;
  const BoxRec two[] = {{0, 0, 10, 10}, {20, 0, 30, 10}};
  const BoxRec swapped[] = {{20, 0, 30, 10}, {0, 0, 10, 10}};
  RegionRec a, b, c, empty1, empty2;
  REGION_NULL(nullptr, &a);
  REGION_NULL(nullptr, &b);
  REGION_NULL(nullptr, &c);
  REGION_NULL(nullptr, &empty1);
  BoxRec nothing{4, 4, 4, 9};  // no width
  REGION_INIT(nullptr, &empty2, &nothing, 1);
  ASSERT_TRUE(miRegionFromBoxes(&a, two, 2));
  ASSERT_TRUE(REGION_COPY(nullptr, &b, &a));
  ASSERT_TRUE(miRegionFromBoxes(&c, swapped, 2));
  EXPECT_TRUE(REGION_EQUAL(nullptr, &a, &b));
  EXPECT_FALSE(REGION_EQUAL(nullptr, &a, &c));
  EXPECT_TRUE(REGION_EQUAL(nullptr, &empty1, &empty2));
  EXPECT_FALSE(REGION_EQUAL(nullptr, &a, &empty1));
  REGION_EMPTY(nullptr, &b);
  EXPECT_TRUE(REGION_EQUAL(nullptr, &b, &empty1));

  // A copy that cannot get its boxes fails and leaves an empty region.
  box.FailAllocation(1);
  EXPECT_FALSE(REGION_COPY(nullptr, &b, &a));
  EXPECT_FALSE(REGION_NOTEMPTY(nullptr, &b));
  for (RegionPtr r : {&a, &b, &c, &empty1, &empty2}) REGION_UNINIT(nullptr, r);
  EXPECT_EQ(box.LiveAllocations(), 0u);
}

// ---- A recording adaptor -------------------------------------------------------------------

struct Calls {
  std::vector<std::string> log;
  std::vector<BoxRec> clip;
  unsigned char* buf = nullptr;
  int putStatus = Success;
  bool nullArrays = false;  // QueryImageAttributes got no pitch or offset array
};
Calls g;

template <class... A>
void Log(const char* format, A... args) {
  char text[200];
  std::snprintf(text, sizeof text, format, args...);
  g.log.emplace_back(text);
}

int PutImage(ScrnInfoPtr, short sx, short sy, short dx, short dy, short sw, short sh, short dw,
             short dh, int id, unsigned char* buf, short width, short height, Bool sync,
             RegionPtr clip, pointer data) {
  Log("PutImage %d %d %d %d %d %d %d %d %x %d %d %d port %ld", sx, sy, dx, dy, sw, sh, dw, dh, id,
      width, height, sync, reinterpret_cast<long>(data));
  g.clip = Boxes(clip);
  g.buf = buf;
  return g.putStatus;
}
void StopVideo(ScrnInfoPtr, pointer data, Bool exit) {
  Log("StopVideo %ld %d", reinterpret_cast<long>(data), exit);
}
int SetAttribute(ScrnInfoPtr, Atom a, INT32 v, pointer) {
  Log("Set %s %d", NameForAtom(a), v);
  return v > 127 ? BadValue : Success;
}
int GetAttribute(ScrnInfoPtr, Atom a, INT32* v, pointer) {
  if (std::strcmp(NameForAtom(a), "XV_TEST") != 0) return BadMatch;
  *v = -77;
  return Success;
}
void BestSize(ScrnInfoPtr, Bool motion, short vw, short vh, short dw, short dh, unsigned* w,
              unsigned* h, pointer) {
  Log("BestSize %d %d %d %d %d", motion, vw, vh, dw, dh);
  *w = 0x1234;
  *h = 0x0506;
}
// Two planes: width x height bytes, then the same again.
int ImageAttributes(ScrnInfoPtr, int, unsigned short* w, unsigned short* h, int* pitches,
                    int* offsets) {
  if (*w > 100) *w = 100;
  g.nullArrays = pitches == nullptr || offsets == nullptr;
  if (pitches != nullptr) pitches[0] = pitches[1] = *w;
  if (offsets != nullptr) {
    offsets[0] = 0;
    offsets[1] = *w * *h;
  }
  return 2 * *w * *h;
}

XF86VideoEncodingRec kEncoding = {0, "XV_IMAGE", 2048, 2048, {1, 1}};
XF86VideoFormatRec kFormat = {24, TrueColor};
XF86AttributeRec kAttribute = {XvGettable | XvSettable, -128, 127, "XV_TEST"};
XF86ImageRec kImage = {0x32505432, XvYUV, LSBFirst, {}, 16, XvPlanar, 2, 0, 0, 0, 0, 8, 8, 8, 1,
                       1, 1, 1, 1, 1, {'Y', 'U'}, XvTopToBottom};

class XvStandIn : public testing::Test {
 protected:
  void SetUp() override {
    g = Calls{};
    info_ = server_.NewScrnInfo();
    info_->depth = 24;
    info_->bitsPerPixel = 32;
    info_->virtualX = 64;
    info_->virtualY = 32;
    info_->frameX0 = 0;
    info_->frameY0 = 0;
    info_->frameX1 = 47;  // the viewport shows 48 x 32
    info_->frameY1 = 31;
    info_->vtSema = TRUE;
    screen_ = server_.NewScreen(info_);
    screen_->width = 64;
    screen_->height = 32;
    miClearVisualTypes();
    miSetVisualTypes(24, miGetDefaultVisualMask(24), 8, TrueColor);
    miSetPixmapDepths();
    ASSERT_TRUE(fbScreenInit(screen_, memory_.data(), 64, 32, 75, 75, 64, 32));
  }

  // Registers an adaptor with two ports (privates 11 and 12), then frees
  // the record as a driver may.
  void Register(int flags = VIDEO_OVERLAID_IMAGES | VIDEO_CLIP_TO_VIEWPORT) {
    XF86VideoAdaptorPtr a = xf86XVAllocateVideoAdaptorRec(info_);
    ASSERT_NE(a, nullptr);
    std::string name = "Recorder";
    a->type = XvInputMask | XvImageMask | XvWindowMask;
    a->flags = flags;
    a->name = name.c_str();
    a->nEncodings = 1;
    a->pEncodings = &kEncoding;
    a->nFormats = 1;
    a->pFormats = &kFormat;
    a->nPorts = 2;
    DevUnion privates[2];
    privates[0].val = 11;
    privates[1].val = 12;
    a->pPortPrivates = privates;
    a->nAttributes = 1;
    a->pAttributes = &kAttribute;
    a->nImages = 1;
    a->pImages = &kImage;
    a->PutImage = PutImage;
    a->StopVideo = StopVideo;
    a->SetPortAttribute = SetAttribute;
    a->GetPortAttribute = GetAttribute;
    a->QueryBestSize = BestSize;
    a->QueryImageAttributes = ImageAttributes;
    ASSERT_TRUE(xf86XVScreenInit(screen_, &a, 1));
    name = "overwritten";
    xf86XVFreeVideoAdaptorRec(a);
    auto adaptors = xstub::XvAdaptors(0);
    ASSERT_EQ(adaptors.size(), 1u);
    port_ = adaptors[0].ports[0];
    attribute_ = MakeAtom("XV_TEST", 7, TRUE);
  }

  // Builds a request in the client's byte order.
  struct Request {
    bool swapped;
    std::vector<uint8_t> bytes;
    Request(bool s, uint8_t minor) : swapped(s), bytes{140, minor, 0, 0} {}
    Request& U8(uint8_t v) {
      bytes.push_back(v);
      return *this;
    }
    Request& U16(uint16_t v) {
      if (swapped) v = __builtin_bswap16(v);
      bytes.resize(bytes.size() + 2);
      std::memcpy(&bytes[bytes.size() - 2], &v, 2);
      return *this;
    }
    Request& U32(uint32_t v) {
      if (swapped) v = __builtin_bswap32(v);
      bytes.resize(bytes.size() + 4);
      std::memcpy(&bytes[bytes.size() - 4], &v, 4);
      return *this;
    }
    // Pads to whole words and writes the length field.
    std::vector<uint8_t> Done() {
      bytes.resize((bytes.size() + 3) / 4 * 4);
      uint16_t words = static_cast<uint16_t>(bytes.size() / 4);
      if (swapped) words = __builtin_bswap16(words);
      std::memcpy(&bytes[2], &words, 2);
      return bytes;
    }
  };

  static xstub::XvAnswer Send(const std::vector<uint8_t>& bytes, bool swapped) {
    return xstub::XvRequest(bytes.data(), bytes.size(), swapped);
  }
  static uint32_t Get32(const std::vector<uint8_t>& b, size_t at, bool swapped) {
    uint32_t v;
    std::memcpy(&v, &b[at], 4);
    return swapped ? __builtin_bswap32(v) : v;
  }
  static uint16_t Get16(const std::vector<uint8_t>& b, size_t at, bool swapped) {
    uint16_t v;
    std::memcpy(&v, &b[at], 2);
    return swapped ? __builtin_bswap16(v) : v;
  }

  std::vector<uint8_t> PutImageRequest(bool swapped, short drwX, short drwY, uint16_t drwW,
                                       uint16_t drwH, uint16_t width, uint16_t height,
                                       size_t dataBytes, XID drawable = 0x900) {
    Request r(swapped, xstub::kXvPutImage);
    r.U32(port_).U32(drawable).U32(0x77).U32(kImage.id);
    r.U16(static_cast<uint16_t>(-3)).U16(4).U16(0xFFFF).U16(5);  // src x, y, w, h
    r.U16(static_cast<uint16_t>(drwX)).U16(static_cast<uint16_t>(drwY)).U16(drwW).U16(drwH);
    r.U16(width).U16(height);
    for (size_t i = 0; i < dataBytes; ++i) r.U8(static_cast<uint8_t>(i));
    return r.Done();
  }

  xstub::Sandbox box_;
  xstub::XServer server_;
  ScrnInfoPtr info_ = nullptr;
  ScreenPtr screen_ = nullptr;
  std::vector<uint32_t> memory_ = std::vector<uint32_t>(64 * 32);
  XID port_ = 0;
  Atom attribute_ = 0;
};

TEST_F(XvStandIn, AtomsAreMadeOncePerName) {
  const Atom a = MakeAtom("XV_HUE", 6, TRUE);
  EXPECT_NE(a, 0u);
  EXPECT_EQ(MakeAtom("XV_HUE", 6, TRUE), a);
  EXPECT_EQ(MakeAtom("XV_HUEX", 6, FALSE), a) << "the length bounds the name";
  EXPECT_EQ(MakeAtom("XV_SATURATION", 13, FALSE), 0u);
  EXPECT_STREQ(NameForAtom(a), "XV_HUE");
  EXPECT_TRUE(ValidAtom(a));
  EXPECT_FALSE(ValidAtom(a + 1));
}

TEST_F(XvStandIn, TheLayerKeepsItsOwnCopyOfARegisteredAdaptor) {
  Register();
  auto adaptors = xstub::XvAdaptors(0);
  const XF86VideoAdaptorRec& a = *adaptors[0].adaptor;
  EXPECT_STREQ(a.name, "Recorder");
  EXPECT_EQ(a.nPorts, 2);
  ASSERT_EQ(adaptors[0].ports.size(), 2u);
  EXPECT_NE(adaptors[0].ports[0], adaptors[0].ports[1]);
  EXPECT_STREQ(a.pEncodings[0].name, "XV_IMAGE");
  EXPECT_STREQ(a.pAttributes[0].name, "XV_TEST");
  EXPECT_EQ(a.pImages[0].num_planes, 2);
  // Registered once per screen and generation.
  XF86VideoAdaptorPtr none = nullptr;
  EXPECT_FALSE(xf86XVScreenInit(screen_, &none, 0));
  // The screen's close takes the layer's records with it.
  ASSERT_NE(screen_->CloseScreen, nullptr);
  EXPECT_TRUE(screen_->CloseScreen(0, screen_));
  EXPECT_TRUE(xstub::XvAdaptors(0).empty());
  EXPECT_TRUE(server_.ScreenClosed(0));
}

TEST_F(XvStandIn, GenericAdaptorsAreTheTestsListForTheScreen) {
  XF86VideoAdaptorPtr* list = nullptr;
  EXPECT_EQ(xf86XVListGenericAdaptors(info_, &list), 0);
  EXPECT_EQ(list, nullptr);
  XF86VideoAdaptorRec one{}, two{};
  xstub::SetGenericXvAdaptors(0, {&one, &two});
  ASSERT_EQ(xf86XVListGenericAdaptors(info_, &list), 2);
  EXPECT_EQ(list[0], &one);
  EXPECT_EQ(list[1], &two);
  xfree(list);
}

TEST_F(XvStandIn, OffscreenImagesAreTheDriversRecords) {
  XF86ImageRec image = XVIMAGE_UYVY;
  XF86OffscreenImageRec records[2] = {};
  records[0].image = &image;
  records[0].max_width = 2048;
  records[1].image = &image;
  ASSERT_TRUE(xf86XVRegisterOffscreenImages(screen_, records, 2));
  auto kept = xstub::XvOffscreenImages(0);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0], &records[0]) << "the server keeps pointing at them";
  EXPECT_EQ(kept[0]->image->id, FOURCC_UYVY);
  EXPECT_EQ(kept[0]->max_width, 2048);
  // Registering them wraps nothing; the server's own close drops them.
  const CloseScreenProcPtr close = screen_->CloseScreen;
  ASSERT_NE(close, nullptr);
  EXPECT_TRUE(xf86XVRegisterOffscreenImages(screen_, records, 1));
  EXPECT_EQ(screen_->CloseScreen, close);
  EXPECT_TRUE(screen_->CloseScreen(0, screen_));
  EXPECT_TRUE(xstub::XvOffscreenImages(0).empty());
}

TEST_F(XvStandIn, TheColourKeyIsPaintedOverTheRegionsBoxes) {
  const BoxRec boxes[] = {{1, 1, 3, 2}, {10, 5, 11, 7}};
  RegionRec r;
  REGION_NULL(nullptr, &r);
  ASSERT_TRUE(miRegionFromBoxes(&r, boxes, 2));
  xf86XVFillKeyHelper(screen_, 0x00100010, &r);
  REGION_UNINIT(nullptr, &r);
  int painted = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x) painted += memory_[y * 64 + x] == 0x00100010;
  EXPECT_EQ(painted, 2 + 2);
  EXPECT_EQ(memory_[1 * 64 + 2], 0x00100010u);
  EXPECT_EQ(memory_[6 * 64 + 10], 0x00100010u);
}

// Request lengths, ports and atoms, in both byte orders.
class XvDecoder : public XvStandIn, public testing::WithParamInterface<bool> {};

TEST_P(XvDecoder, QueryBestSizeAnswersInTheClientsByteOrder) {
  const bool swapped = GetParam();
  Register();
  auto request = Request(swapped, xstub::kXvQueryBestSize)
                     .U32(port_).U16(720).U16(576).U16(0xFFFF).U16(480).U8(1).U8(0).U16(0)
                     .Done();
  xstub::XvAnswer a = Send(request, swapped);
  ASSERT_EQ(a.error, Success);
  ASSERT_EQ(a.reply.size(), 32u);
  EXPECT_EQ(a.reply[0], 1);
  EXPECT_EQ(Get32(a.reply, 4, swapped), 0u);
  EXPECT_EQ(Get16(a.reply, 8, swapped), 0x1234);
  EXPECT_EQ(Get16(a.reply, 10, swapped), 0x0506);
  // The sizes reach the driver as the client sent them.
  EXPECT_EQ(g.log.back(), "BestSize 1 720 576 -1 480");

  request.pop_back();
  EXPECT_EQ(Send(request, swapped).error, BadLength) << "shorter than the length field";
  auto wrongLength = Request(swapped, xstub::kXvQueryBestSize).U32(port_).Done();
  EXPECT_EQ(Send(wrongLength, swapped).error, BadLength) << "not the request's size";
  auto badPort = Request(swapped, xstub::kXvQueryBestSize)
                     .U32(0x7777).U16(1).U16(1).U16(1).U16(1).U32(0).Done();
  xstub::XvAnswer e = Send(badPort, swapped);
  EXPECT_EQ(e.error, xstub::kXvBadPort);
  EXPECT_EQ(e.errorValue, 0x7777u);
  EXPECT_EQ(Send(Request(swapped, 3).U32(port_).Done(), swapped).error, BadRequest);
}

TEST_P(XvDecoder, PortAttributesCheckTheAtomAndPassTheDriversStatus) {
  const bool swapped = GetParam();
  Register();
  EXPECT_EQ(Send(Request(swapped, xstub::kXvSetPortAttribute).U32(port_).U32(attribute_).U32(-5).Done(),
                 swapped).error,
            Success);
  EXPECT_EQ(g.log.back(), "Set XV_TEST -5");
  xstub::XvAnswer bad =
      Send(Request(swapped, xstub::kXvSetPortAttribute).U32(port_).U32(attribute_).U32(128).Done(),
           swapped);
  EXPECT_EQ(bad.error, BadValue);
  EXPECT_EQ(bad.errorValue, 128u);
  xstub::XvAnswer atom =
      Send(Request(swapped, xstub::kXvSetPortAttribute).U32(port_).U32(9999).U32(0).Done(), swapped);
  EXPECT_EQ(atom.error, BadAtom);
  EXPECT_EQ(atom.errorValue, 9999u);

  xstub::XvAnswer got =
      Send(Request(swapped, xstub::kXvGetPortAttribute).U32(port_).U32(attribute_).Done(), swapped);
  ASSERT_EQ(got.error, Success);
  EXPECT_EQ(static_cast<int32_t>(Get32(got.reply, 8, swapped)), -77);
  const Atom other = MakeAtom("XV_OTHER", 8, TRUE);
  EXPECT_EQ(Send(Request(swapped, xstub::kXvGetPortAttribute).U32(port_).U32(other).Done(), swapped)
                .error,
            BadMatch);
}

TEST_P(XvDecoder, QueryImageAttributesRepliesPitchesThenOffsets) {
  const bool swapped = GetParam();
  Register();
  auto request = Request(swapped, xstub::kXvQueryImageAttributes)
                     .U32(port_).U32(kImage.id).U16(300).U16(7).Done();
  xstub::XvAnswer a = Send(request, swapped);
  ASSERT_EQ(a.error, Success);
  ASSERT_EQ(a.reply.size(), 32u + 4 * 4);
  EXPECT_EQ(Get32(a.reply, 4, swapped), 4u) << "reply length: two words per plane";
  EXPECT_EQ(Get32(a.reply, 8, swapped), 2u);
  EXPECT_EQ(Get32(a.reply, 12, swapped), 1400u);
  EXPECT_EQ(Get16(a.reply, 16, swapped), 100) << "the width as the driver clamped it";
  EXPECT_EQ(Get16(a.reply, 18, swapped), 7);
  EXPECT_EQ(Get32(a.reply, 32, swapped), 100u);  // pitches
  EXPECT_EQ(Get32(a.reply, 36, swapped), 100u);
  EXPECT_EQ(Get32(a.reply, 40, swapped), 0u);  // offsets
  EXPECT_EQ(Get32(a.reply, 44, swapped), 700u);
  EXPECT_FALSE(g.nullArrays);

  auto unknown = Request(swapped, xstub::kXvQueryImageAttributes)
                     .U32(port_).U32(FOURCC_YUY2).U16(3).U16(3).Done();
  EXPECT_EQ(Send(unknown, swapped).error, BadMatch);
}

TEST_P(XvDecoder, PutImageNeedsTheDataTheImageTakesAndClipsToWindowAndViewport) {
  const bool swapped = GetParam();
  Register();
  // A window at (10, 2) whose clip list leaves two boxes, the right one
  // partly beyond the viewport (x 48 and up).
  xstub::AddXvWindow({0x900, 0, 10, 2, 50, 20, {{10, 2, 20, 22}, {40, 2, 60, 22}}});

  // 30 x 7: the adaptor says 2 x 30 x 7 = 420 bytes; one byte less is too little.
  EXPECT_EQ(Send(PutImageRequest(swapped, 0, 0, 100, 10, 30, 7, 416), swapped).error, BadLength);
  EXPECT_TRUE(g.log.empty());

  const auto request = PutImageRequest(swapped, -2, 3, 100, 10, 30, 7, 420);
  ASSERT_EQ(Send(request, swapped).error, Success);
  ASSERT_EQ(g.log.size(), 1u);
  // Coordinates and sizes as sent, the destination moved by the window's origin.
  EXPECT_EQ(g.log[0], "PutImage -3 4 8 5 -1 5 100 10 32505432 30 7 0 port 11");
  ASSERT_EQ(g.clip.size(), 2u);
  EXPECT_TRUE(SameBox(g.clip[0], BoxRec{10, 5, 20, 15}));
  EXPECT_TRUE(SameBox(g.clip[1], BoxRec{40, 5, 48, 15}));
  EXPECT_EQ(g.buf, request.data() + 40) << "the image data in place";
  EXPECT_TRUE(g.nullArrays) << "the size check asks without pitch and offset arrays";
  EXPECT_TRUE(xstub::XvPortOn(port_));

  // An unknown drawable, and one of another screen's windows.
  EXPECT_EQ(Send(PutImageRequest(swapped, 0, 0, 10, 10, 30, 7, 420, 0x901), swapped).error,
            BadDrawable);
  xstub::AddXvWindow({0x902, 1, 0, 0, 10, 10, {}});
  EXPECT_EQ(Send(PutImageRequest(swapped, 0, 0, 10, 10, 30, 7, 420, 0x902), swapped).error,
            BadMatch);
}

TEST_P(XvDecoder, AShowingPortStopsWhenItsImageIsClippedAwayOrStopped) {
  const bool swapped = GetParam();
  Register();
  xstub::AddXvWindow({0x900, 0, 0, 0, 64, 32, {}});
  ASSERT_EQ(Send(PutImageRequest(swapped, 0, 0, 20, 20, 30, 7, 420), swapped).error, Success);
  g.log.clear();
  // Entirely right of the viewport: the driver is not called, the port stops.
  ASSERT_EQ(Send(PutImageRequest(swapped, 50, 0, 10, 10, 30, 7, 420), swapped).error, Success);
  ASSERT_EQ(g.log.size(), 1u);
  EXPECT_EQ(g.log[0], "StopVideo 11 0");
  EXPECT_FALSE(xstub::XvPortOn(port_));

  ASSERT_EQ(Send(PutImageRequest(swapped, 0, 0, 20, 20, 30, 7, 420), swapped).error, Success);
  g.log.clear();
  auto stop = Request(swapped, xstub::kXvStopVideo).U32(port_).U32(0x900).Done();
  EXPECT_EQ(Send(stop, swapped).error, Success);
  EXPECT_EQ(Send(stop, swapped).error, Success);
  ASSERT_EQ(g.log.size(), 1u) << "a stopped port is not stopped again";
  EXPECT_EQ(g.log[0], "StopVideo 11 1");

  // The driver's refusal is the request's error, and the port stops.
  ASSERT_EQ(Send(PutImageRequest(swapped, 0, 0, 20, 20, 30, 7, 420), swapped).error, Success);
  g.log.clear();
  g.putStatus = BadAlloc;
  EXPECT_EQ(Send(PutImageRequest(swapped, 0, 0, 20, 20, 30, 7, 420), swapped).error, BadAlloc);
  EXPECT_EQ(g.log.back(), "StopVideo 11 0");
}

INSTANTIATE_TEST_SUITE_P(ByteOrder, XvDecoder, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& i) {
                           return i.param ? "Swapped" : "Native";
                         });

}  // namespace
