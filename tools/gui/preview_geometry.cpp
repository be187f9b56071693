#include "tools/gui/preview_geometry.h"

namespace preview {

namespace {

constexpr int32_t kIndependentGap = 3;

void Add(DrawingInfo& info, Rect r) {
  if (info.rectCount < kMaxDisplays) info.rects[std::size_t(info.rectCount++)] = r;
}

bool PairsOnKvd(uint32_t mode, bool kvd) {
  return kvd && (mode == kIndependent || mode == kXinerama);
}

void AddDigit(Picture& pic, int digit, int32_t x, int32_t y, uint32_t rotation) {
  pic.digits.push_back({digit, x, y, DigitAngle(rotation)});
}

// Digits 1-2 on the first outline and 3-4 on the second, along the long side.
void PairDigits(Picture& pic, const Input& in) {
  const DrawingInfo& info = pic.info;
  for (int pair = 0; pair < 2 && pair < info.rectCount; ++pair) {
    if (pair == 1 && in.displays < kMaxDisplays) break;
    const Rect& r = info.rects[std::size_t(pair)];
    uint32_t rotation = in.rotation[pair == 0 ? 0 : 3];
    bool alongX = r.width >= r.height;
    AddDigit(pic, 2 * pair + 1, r.x, r.y, rotation);
    AddDigit(pic, 2 * pair + 2, alongX ? r.x + kDigitStep : r.x, alongX ? r.y : r.y + kDigitStep,
             rotation);
  }
}

}  // namespace

DrawingInfo GetCoordSquare(int32_t areaWidth, uint32_t mode) {
  DrawingInfo info;
  info.displayCount = kMaxDisplays;
  const int32_t half = areaWidth / 2;
  if (mode == kIndependent) {
    Add(info, {half - 26, half - 29, kPairLength, kDisplaySize});
    Add(info, {half - 26, half + 3, kPairLength, kDisplaySize});
  } else if (mode == kXinerama) {
    Add(info, {half - 26, half - 26, kPairLength, kDisplaySize});
    Add(info, {half - 26, half, kPairLength, kDisplaySize});
  } else {
    Add(info, {half - 26, half - 26, kPairLength, kPairLength});
  }
  return info;
}

DrawingInfo GetCoordLine(int32_t areaWidth, int displays, uint32_t layout, uint32_t mode, bool kvd) {
  DrawingInfo info;
  info.displayCount = displays;
  int32_t gap = 0, spacing = 0, length = kDisplaySize, count = displays;
  if (mode == kIndependent || mode == kXinerama) {
    if (mode == kIndependent) gap = kIndependentGap;
    if (kvd) {
      length = kPairLength;
      count = displays / 2;
      if (mode == kIndependent) spacing = 3 * (displays & ~1);
    } else if (mode == kIndependent) {
      spacing = 6 * displays;
    }
  } else {
    length = kDisplaySize * displays;
    count = 1;
  }
  int32_t start = (areaWidth - length * count - spacing) / 2 + gap;
  for (int32_t i = 0; i < count; ++i, start += length + 2 * gap) {
    if (layout == kVertical)
      Add(info, {kCrossAxisOffset, start, kDisplaySize, length});
    else
      Add(info, {start, kCrossAxisOffset, length, kDisplaySize});
  }
  return info;
}

int DigitAngle(uint32_t rotation) {
  switch (rotation) {
    case kRotationClockwise: return 270;
    case kRotationCounterClockwise: return 90;
    default: return 0;
  }
}

Picture ComputePreview(const Input& in) {
  Picture pic;
  const int displays = in.displays < 1 ? 1 : in.displays > kMaxDisplays ? kMaxDisplays : in.displays;
  Input clamped = in;
  clamped.displays = displays;

  if (in.layout == kSquare) {
    // The square layout exists only for four displays; anything else has no
    // picture.
    if (displays != kMaxDisplays) return pic;
    pic.info = GetCoordSquare(in.areaWidth, in.mode);
    if (in.mode == kMerge) {
      const Rect& r = pic.info.rects[0];
      pic.separators.push_back({r.x + r.width / 2, r.y, r.x + r.width / 2, r.y + r.height});
      pic.separators.push_back({r.x, r.y + r.height / 2, r.x + r.width, r.y + r.height / 2});
    } else {
      for (int32_t i = 0; i < pic.info.rectCount; ++i) {
        const Rect& r = pic.info.rects[std::size_t(i)];
        pic.separators.push_back({r.x + kDisplaySize, r.y, r.x + kDisplaySize, r.y + r.height});
      }
    }
    if (in.mode == kIndependent) {
      PairDigits(pic, clamped);
    } else {
      const Rect& r = pic.info.rects[0];
      const int32_t dx[] = {0, kDigitStep, 0, kDigitStep};
      const int32_t dy[] = {0, 0, kDigitStep, kDigitStep};
      for (int i = 0; i < kMaxDisplays; ++i) AddDigit(pic, i + 1, r.x + dx[i], r.y + dy[i], in.rotation[0]);
    }
    return pic;
  }

  const bool vertical = in.layout == kVertical;
  pic.info = GetCoordLine(in.areaWidth, displays, in.layout, in.mode, in.kvd);
  if (in.mode == kMerge && pic.info.rectCount > 0) {
    const Rect& r = pic.info.rects[0];
    for (int k = 1; k < displays; ++k) {
      if (vertical)
        pic.separators.push_back({r.x, r.y + kDisplaySize * k, r.x + r.width, r.y + kDisplaySize * k});
      else
        pic.separators.push_back({r.x + kDisplaySize * k, r.y, r.x + kDisplaySize * k, r.y + r.height});
    }
  } else if (!vertical && PairsOnKvd(in.mode, in.kvd)) {
    for (int32_t i = 0; i < pic.info.rectCount; ++i) {
      const Rect& r = pic.info.rects[std::size_t(i)];
      pic.separators.push_back({r.x + kDisplaySize, r.y, r.x + kDisplaySize, r.y + r.height});
    }
  }

  if (PairsOnKvd(in.mode, in.kvd)) {
    PairDigits(pic, clamped);
  } else {
    // One 26-pixel square per display carries its digit; a merged desktop is
    // split into those squares first.
    DrawingInfo cells = in.mode == kMerge
                            ? GetCoordLine(in.areaWidth, displays, in.layout, kXinerama, false)
                            : pic.info;
    for (int32_t i = 0; i < cells.rectCount; ++i) {
      const Rect& r = cells.rects[std::size_t(i)];
      AddDigit(pic, int(i) + 1, r.x, r.y, in.rotation[std::size_t(i)]);
    }
  }
  return pic;
}

}  // namespace preview
