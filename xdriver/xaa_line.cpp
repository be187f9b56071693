// Solid lines: horizontal and vertical ones as one-pixel-wide rectangles,
// others between two points.
#include <algorithm>
#include <cstdlib>

#include "core/regs/engine2d.h"
#include "xdriver/packet2d.h"
#include "xdriver/xaa_common.h"
#include "xdriver/xaa_hooks.h"

namespace {

constexpr uint32_t kLineOp = k2dOpLine | k2dLineBits;

// The control word with the line's own packet, recorded as the last sent.
void LinePacket(KstrnXaaData* data, BmPrimInt* prim, PacketIndex secondIndex, PacketIndex thirdIndex,
                uint32_t control, uint32_t second, uint32_t third) {
  Write2dPacket(prim, {PacketHeader(k2dIdxControl, secondIndex, thirdIndex), control, second, third});
  data->device->sharedLocked->last1300Value = control;
}

}  // namespace

void KstrnXAASetupForSolidLine(ScrnInfoPtr scrn, int color, int rop, unsigned int planemask) {
  KstrnXaaSetup(scrn, [&](KstrnXaaData* data, SharedLockedData_t* shared) {
    const uint32_t destination = KstrnXaaBindTarget(data);
    const uint32_t source = KstrnXaaBindTarget(data);
    uint32_t control = k2dOpFill | destination | Control2dSource::Word(Control2dDest::Get(source)) |
                       KstrnXaaRop(rop);
    if (data->clipping) control |= k2dClipOn;
    Shadow2dForeground(shared) = KstrnXaaReplicate(data, static_cast<uint32_t>(color));
    Shadow2dPlaneMask(shared) = KstrnXaaReplicate(data, planemask);
    // The control word goes with each line's own packet.
    *data->control = control;
    return k2dDirtyForeground | k2dDirtyPlaneMask;
  });
}

void KstrnXAASubsequentSolidHorVertLine(ScrnInfoPtr scrn, int x, int y, int len, int dir) {
  KstrnXaaDraw(scrn, [&](KstrnXaaData* data, BmPrimInt* prim) {
    const uint32_t length = static_cast<uint32_t>(len) & 0xFFFF;
    const uint32_t size = dir != DEGREES_0 ? length << 16 | 1 : 1u << 16 | length;
    LinePacket(data, prim, k2dIdxOrigin, k2dIdxSizeGo, *data->control, Xy2d(x, y), size);
    KstrnXaaDrawn(data, x, y, static_cast<int>(size & 0xFFFF), static_cast<int>(size >> 16));
  });
}

void KstrnXAASubsequentSolidTwoPointLine(ScrnInfoPtr scrn, int x1, int y1, int x2, int y2, int flags) {
  KstrnXaaDraw(scrn, [&](KstrnXaaData* data, BmPrimInt* prim) {
    // For this line only: the set-up's word stays as it is.
    uint32_t control = *data->control | kLineOp;
    if ((flags & OMIT_LAST) == 0) control |= k2dLastPixel;
    LinePacket(data, prim, k2dIdxStart, k2dIdxLineEnd, control, Xy2d(x1, y1), Xy2d(x2, y2));
    KstrnXaaDrawn(data, std::min(x1, x2), std::min(y1, y2), std::abs(x2 - x1) + 1, std::abs(y2 - y1) + 1);
  });
}
