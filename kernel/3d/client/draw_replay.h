// What the draw tokens share: the walk over a drawable's rectangles that
// replays each draw once per rectangle with the scissor set to it, the
// list a 3D context draws through, the binding of a client buffer as the
// vertex or index source of a draw, and the per-draw step that applies the
// render state and calls the render context's primitive emitter.
//
// Rectangles, buffers and offsets come from clients and the board's map:
// counts are bounded by the list's capacity, and every source a draw binds
// lies inside the client buffer it names.
#pragma once

#include <stdint.h>

#include "kernel/range_map.h"

struct Context3d;
struct ClientBuffer3d;
struct RenderContext3d;
struct RenderState3d;
struct StreamBinding;
struct TokenContext3d;

// The drawable's rectangles a draw is replayed over.
class ClipRectIterator {
 public:
  // The list (null: nothing is drawn) and the drawable's rectangle.
  void Init(const ClipRectList* list, const ClipRect& drawable);
  bool HasSeveral() const;
  // The next rectangle: false once every one was taken.
  bool Next();
  // The scissor rectangle set to the current rectangle, and the drawable's
  // origin; each marked dirty only when it changed.
  void Apply(RenderContext3d* context) const;
  // The scissor back to the whole drawable.
  void Restore(RenderContext3d* context) const;
  // A box {x0, y0, z0, x1, y1, z1} cut to the current rectangle, never
  // turned inside out; the current rectangle as such a box.
  void ClipBox(int32_t box[6]) const;
  void CurrentBox(int32_t box[6]) const;

  uint32_t Count() const;
  const ClipRect& Current() const { return list_->rects[index_ - 1]; }

 private:
  const ClipRectList* list_ = nullptr;
  ClipRect drawable_ = {};
  uint32_t index_ = 0;
};

// The list a 3D context's draws go through: the drawable's client clip
// rectangles while the context has saved targets, else its visible
// rectangles. Null, with nothing drawn, when the drawable has none.
const ClipRectList* DrawRectsOf(TokenContext3d* token, ClipRect* drawable);

// Whether two surface formats may stand for each other in a copy: never
// across format classes; within a class when the formats are equal, the
// class is not 1, or the render context does not ask for strict formats.
bool FormatsCompatible(uint32_t a, uint32_t b, bool strict);

// The stream bindings' per-draw words cleared (the vertex window starts at
// each source's first vertex again); nothing changes when they are clear
// and were reset already.
void ResetStreamBindings(Context3d* context, RenderState3d& state);

// Stream 0 bound to the 3D context's current vertex buffer from byte
// `offset` on, at the current stride: false, binding nothing, when there
// is none or the offset leaves no whole vertex.
bool BindClientVertices(TokenContext3d* token, uint64_t offset);

// The index source set to a binding, marked when it changed.
void BindIndexSource(RenderState3d& state, const StreamBinding& binding);

// One draw of the current render context: state applied, targets
// prepared, the toggle packet, the stream handed over, then, for a count
// above 0, the targets marked busy, the primitive emitter of the indexed or
// the non-indexed slot called, and the targets tagged.
void DrawStep(TokenContext3d* token, uint32_t count, bool indexed);

// A client buffer goes: the 3D context's render contexts drop every
// vertex and index source the processor would read from it, and the
// ranged draws lose it as their vertex buffer.
void ForgetClientBuffer3d(Context3d* context, const ClientBuffer3d& buffer);

// The toggle packet before a render context's stream is handed over.
void EmitTogglePacket(TokenContext3d* token);
