// What the state-block tests ask of a table and its blocks beyond what the
// module itself does with them: whether a block holds an id and how many
// ids of a kind it holds, and the begin-recording, end-recording and
// capture-again operations, each composed of the table's own steps in the
// order a client's request would run them. Test code only.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "kernel/3d/render/render_state.h"
#include "kernel/3d/render/state_blocks.h"

// Whether the block holds the id in the map of the kind (kind 1: the
// stage's); false for a kind or stage without one.
inline bool StateBlockHolds(const StateBlock& block, uint32_t kind, uint32_t id, uint32_t stage = 0) {
  bool held = false;
  StateBlockVisit(const_cast<StateBlock&>(block), kind, stage, [&](auto& m) { held = m.find(id) != m.end(); });
  return held;
}

// How many ids the map of the kind holds; 0 for a kind or stage without one.
inline size_t StateBlockCount(const StateBlock& block, uint32_t kind, uint32_t stage = 0) {
  size_t n = 0;
  StateBlockVisit(const_cast<StateBlock&>(block), kind, stage, [&](auto& m) { n = m.size(); });
  return n;
}

// Begin recording: an empty block under the key that captures nothing by
// itself, then the recording starts (1), or 0 with nothing started.
inline uint32_t BeginStateBlock(StateBlockTable& table, uint32_t key) {
  if (table.Add(key) == 0) return 0;
  StateBlock* block = table.Find(key);
  if (block == nullptr) return 0;
  block->Capture(kCaptureRecorded);
  return table.BeginRecording(key);
}

// End recording: the block of the key takes the values of the ids it
// gathered, then the recording ends; the new depth.
inline uint32_t EndStateBlock(StateBlockTable& table, uint32_t key) {
  if (StateBlock* block = table.Find(key); block != nullptr && table.owner != nullptr) table.owner->CaptureInto(block);
  return table.EndRecording(key);
}

// Capture again: the block of the key takes the current values of its ids;
// 0 when there is no block of the key.
inline uint32_t CaptureStateBlockAgain(StateBlockTable& table, uint32_t key) {
  StateBlock* block = table.Find(key);
  if (block == nullptr) return 0;
  if (table.owner != nullptr) table.owner->CaptureInto(block);
  return 1;
}
