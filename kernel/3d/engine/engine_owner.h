// The board's owner of the 3D engine state (component entry 15): it knows
// which context state the engine holds, keeps for every other state what
// changed since it was current, and makes a user's state current by
// emitting only what differs before it emits the user's operation, its
// flushes and synchronisation points into the board's 3D stream.
#pragma once

#include <stdint.h>

#include "core/heap_object.h"

class PDEV;
class BmSecondaryInt;
class ContextState3d;
class Surface3d;
struct CommonData;
struct VertexEngineBlock;

// Emit-pending flags, re-emit bits.
inline constexpr uint8_t kEoEmitPending = 0x01;
inline constexpr uint8_t kEoReemitAll = 0x0F;
inline constexpr uint8_t kEoReemitTagPair = 0x02;
inline constexpr uint8_t kEoReemitExtraTag = 0x04;

// Flush-request bits.
inline constexpr uint32_t kFlushStageA = 0x01;   // stage operation 0x1000F4
inline constexpr uint32_t kFlushStageB = 0x02;   // stage operation 0x5000F5
inline constexpr uint32_t kFlushSequence = 0x04;
inline constexpr uint32_t kFlushSyncPair = 0x08;
inline constexpr uint32_t kFlushStageLimit = 0x10;
inline constexpr uint32_t kFlushThirdChannel = 0x20;

// Capability bits of the device word: the pair registers (0x7A) and the
// stage-enable register of the later chips.
inline constexpr uint32_t kEoCapabilityBits = 0x7FC00;

// The device's target-mode word and the target kinds of the surface
// owner.
inline constexpr uint32_t kDeviceTargetMode = 0x1;
inline constexpr uint32_t kTargetKindNone = 0;
inline constexpr uint32_t kTargetKindAlways = 1;
inline constexpr uint32_t kTargetKindTagged = 2;

inline constexpr uint32_t kStageOperationA = 0x1000F4;
inline constexpr uint32_t kStageOperationB = 0x5000F5;

class EngineOwner3d : public OsHeapObject {
 public:
  EngineOwner3d(PDEV* device, CommonData* common);
  ~EngineOwner3d();
  EngineOwner3d(const EngineOwner3d&) = delete;
  EngineOwner3d& operator=(const EngineOwner3d&) = delete;

  void Register(ContextState3d* state);
  void Unregister(ContextState3d* state);

  // Makes the state current, emitting what differs, and emits its
  // operation (kind 1-3 of its operation block, or the full state).
  void Execute(ContextState3d* state, uint32_t operation, bool checkFlush);
  // ORs the bits into the current state's dirty and changed-by-others
  // words: groups someone else wrote in the engine.
  void MarkChanged(const uint32_t bits[3]);

  void EmitFlushSequence(bool force);
  void EmitTargetOperation(uint32_t a, uint32_t b, uint32_t c, uint32_t d);
  void EmitStageOperation(uint32_t operation, bool flag);
  void SetUpOperationStages(bool flag, uint32_t operation);
  void EmitSyncPoint();
  // Executes what was written since the last range closed.
  void CloseRange();

  bool Capable() const { return (capabilities & kEoCapabilityBits) != 0; }
  BmSecondaryInt* Stream() const;
  ContextState3d* Current() const { return current; }
  ContextState3d* Head() const { return head; }

  PDEV* device;
  CommonData* common;
  uint8_t emitPending = 0;
  uint8_t reemit = 0;
  uint8_t tagPair = 0;
  uint8_t singleTag = 0;
  uint8_t flushPending = 0;     // the render-target set-up's flush before its operation
  uint8_t targetOperation = 0;  // the render-target set-up runs EmitTargetOperation
  ContextState3d* current = nullptr;
  ContextState3d* head = nullptr;
  uint32_t operationWord = 0;
  uint32_t flushRequests = 0;
  uint32_t pendingChannels = 0;
  uint32_t started = 0;         // 2 once the first Execute after enable emitted everything
  uint8_t deviceStarted = 0;    // set by the enable's initial state

  // The device's traits: capability word (bits 10-18 the pair registers),
  // first flag byte (bits 1-5: the engine needs the full flush sequence)
  // and second flag byte (bit 0x04: the third-channel stage operation).
  uint32_t capabilities = 0;
  uint8_t deviceFlags = 0;
  uint8_t deviceFlags2 = 0;
  // The stream's side: the last operation code written to 0xC0, the packet
  // mode, the value closing a range passes on (register 0x00), its
  // re-synchronisation and first-use flags, the cached stream value.
  uint32_t lastOperation = 0;
  uint32_t packetMode = 0;
  uint32_t contextWord = 0;
  uint8_t resync = 0;
  uint8_t firstUse = 1;
  uint32_t cachedStreamValue = 0;

  ContextState3d* presets[3] = {};
  ContextState3d* defaults = nullptr;

  // The device's surface owner: how the device lays its render targets
  // out for the engine. No part of the driver changes these values yet;
  // they are the device's fixed answers:
  // - the target-mode word render contexts take at creation (bit 0 is the
  //   "on" bit a context clears while its target mode is off; no other
  //   bit is set, so the engine control byte's target flag stays off);
  // - the target kind of the engine control word (0: its target bit is
  //   never set, 1: always, 2: when the pixel pipeline asks for it);
  // - the value the device enable writes into the engine's initial-state
  //   register.
  uint32_t targetMode = kDeviceTargetMode;
  uint32_t targetKind = kTargetKindNone;
  uint32_t initialStateValue = 0;
  // The board switch's answer that every render context's state keeps
  // (no switch gives it another value).
  uint32_t contextSwitchValue = 0;
  // The wait count a newly placed render target sets (15); no part of the
  // driver reads it yet.
  uint32_t waitCount = 0;

  // The in-use marks of a draw: set before each draw (MarkTargetsBusy),
  // with the depth surface it drew into (compared by identity only, never
  // followed); a surface's mark is cleared by ClearSurfaceBusy, which
  // clears the owner's mark with it.
  uint8_t targetsInUse = 0;
  const Surface3d* depthInUse = nullptr;

  // After a target-mode switch: the engine's coordinate registers are
  // written again before the next vertex-program upload (the stream's
  // re-synchronisation flag).
  void ResyncSurfaceOwner() { resync = 1; }

 private:
  void Switch(ContextState3d* state);
  void ResetAll(ContextState3d* state);
  void CollectFlushRequests(ContextState3d* state);
  void RunFlushActions();
  void EmitOperation(ContextState3d* state);
  void MarkCurrent(uint32_t word0, uint32_t stageWord = 0, uint32_t unitWord = 0);
};

// Component entry 15 and the enable and mode-change parts of the engine
// state.
bool InitEngineOwner3d(PDEV* pdev);
void CleanupEngineOwner3d(PDEV* pdev);
bool InitContextState3d(PDEV* pdev);
void FlushEngineState3d(CommonData* common);

// What render contexts and the blit engine ask of the context states:
// made for an owner (null when memory runs out) and deleted; the vertex
// engine's block set up when its owner link is set; made current with its
// operation emitted (false without owner or state).
ContextState3d* NewContextState3d(EngineOwner3d* owner);
void DeleteContextState3d(ContextState3d* state);
void VertexEngineBlockSetUp(VertexEngineBlock* block);
bool EngineOwner3dExecute(EngineOwner3d* owner, ContextState3d* state, uint32_t operation, uint32_t flag);
// Marks the current engine state's control word as no longer in register
// 0xC0, after a packet that wrote another value there.
void ControlWordOverwritten(CommonData* common);
