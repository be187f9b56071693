// The board's 2D context (the engine state must be reloaded after another
// user of the engine), the drawing bracket every drawing operation runs in,
// and component-table rows 17 and 18.
#pragma once

#include <stdint.h>

#include "core/heap_object.h"
#include "core/orv_abi.h"

class PDEV;

class Context2d : public OsHeapObject {
 public:
  explicit Context2d(PDEV* owner) : owner(owner) {}

  // Drops every descriptor binding of the device's list and clears
  // pre-draw bit 0x4 on every device of the board.
  void SetContext(PDEV* pdev);
  // Sets pre-draw bit 0x4 on every device of the board: display processing
  // used the engine.
  void InvalidateContext();

  PDEV* owner;
  uint32_t repeatHeader = 0xFFFFFFFF;  // last loaded into register 0x22; none known
};

// Pre-draw flags.
inline constexpr uint32_t kPreDrawSetContext = 0x4;     // the 2D context must be re-established
inline constexpr uint32_t kPreDrawOwnerCheck = 0x8;     // re-establish when another engine owner
// Post-draw flags.
inline constexpr uint32_t kPostDrawWait = 0x10;         // wait for the engine after drawing
inline constexpr uint32_t kPostDrawSteps = 0x02 | 0x08 | 0x10 | 0x40;
// The 2D engine owner word of the shared locked block holds this for the 2D side.
inline constexpr uint32_t kEngineOwner2d = 1;

class PreDrawPostDraw {
 public:
  // Re-establishes the 2D context when asked to (or when another owner
  // used the engine and bit 0x8 asks to check).
  void MakeConstantPreDraw();
  // With post-draw bit 0x10: a sync packet and the wait for it (the lock is
  // the bracket's).
  void MakeConstantPostDraw();
  void SwitchStubEngine() {}

  PDEV* owner = nullptr;
  SharedLockedData_t* shared = nullptr;
  int32_t* depth = nullptr;  // the command lock's nesting word
  uint32_t preDraw = 0;
  uint32_t postDraw = 0;
  uint8_t lockDrawing = 0;  // the feature manager sets it while display processing runs
};

// The bracket of every drawing operation: with the lock-drawing flag the
// command lock is held (nested) for the operation; the pre-draw step runs
// before and the post-draw step after it when their flags ask for them.
// When the lock's holder never lets go, neither step runs and Drawing()
// answers false: the operation is given up.
class DrawBracket {
 public:
  explicit DrawBracket(PDEV* pdev);
  ~DrawBracket();
  DrawBracket(const DrawBracket&) = delete;
  DrawBracket& operator=(const DrawBracket&) = delete;

  bool Drawing() const { return drawing_; }

 private:
  PreDrawPostDraw& bracket_;
  bool locked_;
  bool drawing_;
};

// Row 17: the board's 2D context, made by the first device.
bool InitContext2d(PDEV* pdev);
void CleanupContext2d(PDEV* pdev);
// Row 18: the device's bracket.
bool InitPreDrawPostDraw(PDEV* pdev);
void CleanupPreDrawPostDraw(PDEV* pdev);
