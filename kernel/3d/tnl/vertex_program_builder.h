// The board's vertex program builder: the microcode catalogue, the lists in
// which a program is assembled and linked, the prebuilt programs, and the
// program memory in which programs sit for the engine to run, either a ring
// of host-memory slots the engine fetches or the engine's own memory
// written directly. One per board, made with its first device object
// (component entry 19) and restored whenever a device is enabled.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/heap_object.h"
#include "core/otl_vector.h"
#include "kernel/3d/tnl/microcode_catalogue.h"
#include "kernel/3d/tnl/program_linker.h"
#include "kernel/3d/tnl/vertex_program.h"

class PDEV;
struct CommonData;
struct SharedLockedData_t;

inline constexpr uint32_t kProgramSlots = 682;
inline constexpr uint32_t kLastSlot = kProgramSlots - 1;
inline constexpr uint32_t kProgramMemoryPages = 256;
inline constexpr uint32_t kSlotAlignment = 384;
inline constexpr uint32_t kDirectMemoryBytes = 6144;
inline constexpr uint32_t kDirectLimit = kDirectMemoryBytes - 1;  // a program must end below it
inline constexpr uint32_t kPrebuiltPrograms = 14;
inline constexpr uint32_t kIndexedPrograms = 16;
inline constexpr uint32_t kFixedProgramIds = 18;
inline constexpr uint32_t kNoSlot = 0xFFFFFFFF;
// Programs a list keeps before it evicts.
inline constexpr uint32_t kProgramListLimit = 681;

// Register 0x920: bit 0 slot mode.
inline constexpr uint32_t kProgramModeSlots = 0x1;

struct ProgramSlot {
  VertexProgram* program;
  uint32_t runLength;  // slots from this one to the end of the program's run
  // A slot whose program was detached keeps its run until the engine has
  // passed this tag (the last batch that used the program): 0 when the
  // engine is done with it, kSlotAwaitingSeal while the batch being built
  // used it and its tag comes with the batch's seal.
  uint32_t fence;
};
// Never a sync tag: tags keep their low three bits clear.
inline constexpr uint32_t kSlotAwaitingSeal = 1;

using ProgramAllocRoutine = bool (*)(CommonData* common, uint32_t unit, uint32_t pages, void** cpu,
                                     uint64_t* bus);
using ProgramFreeRoutine = bool (*)(CommonData* common, uint32_t unit, void* cpu);

class VertexProgramBuilder : public OsHeapObject {
 public:
  VertexProgramBuilder(CommonData* common, SharedLockedData_t* shared, uint8_t* success);
  ~VertexProgramBuilder();
  VertexProgramBuilder(const VertexProgramBuilder&) = delete;
  VertexProgramBuilder& operator=(const VertexProgramBuilder&) = delete;

  // The prebuilt program of an id (0-3, 6-12, 15-17), or for id 4 the
  // indexed program `index` (0-15); null for any other id or index.
  VertexProgram* GetFixedProgram(int32_t id, uint32_t index) const;
  void RefreshCacheMode();
  void SetUpProgramMemory();
  void ReloadFixedPrograms();
  void RestoreAfterReset(PDEV* pdev);
  // Releases the slots of every program (allSlots) or of those from the
  // ring start on. From the ring start only when no render context of the
  // board is left: under live contexts the engine may still fetch them.
  void ResetSlots(bool allSlots);
  // The program is about to go: no slot names it any more, yet its slots
  // stay taken until the engine has passed the last batch that used it (a
  // batch in flight may still fetch its code), and it leaves the recent
  // programs.
  void DetachProgram(VertexProgram* program, RecentPrograms* recent);

  // ---- Residency ----
  // The engine address of the entry, stored in the program; 0, logged,
  // when the program could not be placed (direct memory full, or a bounded
  // wait gave up), and the caller skips the draw. (In direct mode the
  // first program of a batch may sit at address 0 too.) waitContext: the calling
  // context's CommonData, whose secondary stream carries a tag that lets a
  // full ring move on; null to wait without one.
  uint32_t MakeResident(VertexProgram* program, bool batchStart, uint32_t entry, CommonData* waitContext);
  bool LastPlacementFailed() const { return placementFailed_; }
  uint32_t GetSlotStartAddress(VertexProgram* program, uint32_t entry, CommonData* waitContext);
  // 1 with the program copied into its slots, 0 when no run was found.
  uint32_t UploadToSlots(VertexProgram* program, CommonData* waitContext);
  // The first slot of a free run of n, or kNoSlot.
  uint32_t AllocProgramSlots(uint32_t n, CommonData* waitContext);
  uint32_t WriteProgramDirect(VertexProgram* program, bool batchStart, uint32_t entry);
  // The end of a batch: every program the batch used (made resident since
  // the last seal) takes the tag the batch's closing sequence issued, and
  // becomes reclaimable once the engine passes it.
  void SealBatchTag(uint32_t tag);
  // Whether the engine has passed the tag.
  bool TagPassed(uint32_t tag) const;

  // ---- Assembly (the lists of the program being built) ----
  void ResetAssembly();
  bool AppendFragment(uint32_t entry);
  bool PrependFragment(uint32_t entry);
  bool AddPatchRecord(uint32_t kind, uint32_t value, uint32_t instruction);
  bool AddPackedPatchRecord(uint64_t instructionAndKind, uint32_t value);
  bool AddFixup(uint32_t instruction, uint32_t kind, uint32_t block);
  uint32_t PadFrontToBlock(uint32_t size);
  uint32_t PadToBlock(uint32_t* counter, uint32_t extra);
  uint32_t PadAfterFragment(uint32_t entry);
  uint32_t PadProgramToBlock();
  bool AppendCountedFragment(const TnlStateKey& tnl, const TnlProgramInputs& render);
  // Assembles kind 2-6 into the lists; false when the state has no program
  // of that kind (or a list could not grow). entry: the kind's entry.
  bool AssembleKindProgram(uint32_t kind, const TnlProgramInputs& render, const TnlStateKey& tnl,
                           VertexProgram* program, uint32_t* entry);
  bool AssembleKind0Program(const TnlProgramInputs& render, const TnlStateKey& tnl);
  // Creates the program and assembles the fixed-function program into the
  // lists; null when the record cannot be allocated or a list cannot grow.
  VertexProgram* SelectFixedFunctionFragments(const TnlStateKey& tnl, const TnlProgramInputs& render);
  void SelectTransformFragments(const TnlStateKey& tnl, const TnlProgramInputs& render);
  void SelectLightingFragments(const TnlStateKey& tnl, const TnlProgramInputs& render, bool thirdKind = false);
  void SelectThirdKindLightingFragments(const TnlStateKey& tnl, const TnlProgramInputs& render) {
    SelectLightingFragments(tnl, render, true);
  }
  void SelectTextureFragments(const TnlStateKey& tnl, const TnlProgramInputs& render);
  void SelectLightFragments(const TnlStateKey& tnl, const TnlProgramInputs& render);
  // One step of the light pairing rule: false when every count is 0.
  static bool NextLightStep(uint32_t counts[3], uint32_t* pairBits, uint32_t* kindIndex);
  // Links the lists into a new buffer attached to the program.
  bool LinkInto(VertexProgram* program);

  // ---- Cache ----
  VertexProgram* FindCachedProgram(uint32_t stateWord, uint32_t kind, const TnlProgramInputs& render,
                                   const TnlStateKey& tnl, VertexProgramList* list) const;
  void EvictProgram(VertexProgramList* list, const RecentPrograms* exclusions);

  // ---- Register check ----
  uint32_t CheckConstantRegisters(PDEV* pdev);
  uint32_t CompareConstantRegisters(PDEV* pdev, const uint32_t a[4], const uint32_t b[4], uint8_t* results);

  // Fields (in the order the builder keeps them).
  ProgramFreeRoutine freeRoutine = nullptr;
  ProgramAllocRoutine allocRoutine = nullptr;
  VertexProgram* prebuilt[kFixedProgramIds] = {};  // ids 5, 13, 14 stay null
  VertexProgram* indexed = nullptr;                 // array of 16
  Otl::Vector<FragmentRef> fragments;
  Otl::Vector<PatchRecord> patches;
  Otl::Vector<FixupRecord> fixups;
  uint32_t assembledSize = 0;
  MicrocodeCatalogue catalogue;
  uint8_t memoryChanged = 0;
  uint8_t* memoryCpu = nullptr;
  uint64_t memoryBus = 0;
  uint8_t* slot0Cpu = nullptr;
  uint64_t slot0Bus = 0;
  uint32_t addressSpaceBits = 0;
  ProgramSlot slots[kProgramSlots] = {};
  uint32_t ringHead = 0;
  uint32_t ringStart = 0;
  CommonData* common = nullptr;
  SharedLockedData_t* shared = nullptr;
  uint32_t slotMode = 0;
  uint32_t directTotal = 0;
  uint32_t clippingType = 0;
  uint8_t clipFragments = 0;
  uint8_t directOverflow = 0;
  // Programs used since the last end of batch (linked through nextInBatch).
  VertexProgram* batchPrograms = nullptr;
  // Recipe records that addressed an instruction past their fragment (not
  // recorded), and assembled programs the linker refused.
  uint64_t droppedRecords = 0;
  uint64_t refusedLinks = 0;

 private:
  void ReadClipping();
  void ReleaseProgramMemory();
  void DestroyPrograms();
  bool SlotReusable(const ProgramSlot& slot) const;
  bool FindRun(uint32_t n, uint32_t* candidate, bool* needsRelease) const;
  bool IssueRingTag(CommonData* waitContext);
  void ClearProgramSlots(VertexProgram* program);
  void NoteInBatch(VertexProgram* program);
  void ForgetInBatch(VertexProgram* program);
  bool WaitProgramPort();
  void ApplyPatchRecipe(const PatchRecipe& recipe, bool withValue, uint32_t value);
  void SelectTransformPart(const TnlStateKey& tnl, const TnlProgramInputs& render, bool lightingForm);
  void SelectTransformTail(const TnlStateKey& tnl, const TnlProgramInputs& render);

  bool assemblyFailed_ = false;  // a list could not grow or a fragment was refused

  bool placementFailed_ = false;  // the last placement could not be made
  // A slot may hold a program: set by every upload, cleared when all slots
  // are cleared, so that clearing slots that all are empty costs nothing.
  bool slotsHeld_ = false;
  // Some slot waits for the seal of the batch being built.
  bool slotsAwaitSeal_ = false;
};

// Component entry 19, and the enable path's restore of the board's
// resident programs.
bool CreateVertexProgramBuilder(PDEV* pdev);
void DestroyVertexProgramBuilder(PDEV* pdev);
void RestoreVertexPrograms3d(PDEV* pdev);

// The program lookups of a context (its lists and recent array). Null when
// memory runs out, or for a kind 2-5 request the state has no program for.
VertexProgram* FindOrBuildVertexProgram(VertexProgramBuilder* builder, uint32_t stateWord, uint32_t kind,
                                        const TnlProgramInputs& render, const TnlStateKey& tnl,
                                        VertexProgramList* list);
VertexProgram* FindOrBuildKindProgram(VertexProgramBuilder* builder, uint32_t stateWord, uint32_t kind,
                                      const TnlProgramInputs& render, const TnlStateKey& tnl,
                                      VertexProgramList* list);
VertexProgram* FindOrBuildFixedFunctionProgram(VertexProgramBuilder* builder, VertexProgramList* list,
                                               RecentPrograms* recent, const TnlProgramInputs& render,
                                               const TnlStateKey& tnl);
bool ProgramKeyMatches(const VertexProgram* program, uint32_t stateWord, uint32_t kind,
                       const TnlProgramInputs& render, const TnlStateKey& tnl);
// The key mask of [kind][stored mode][current mode].
uint32_t ProgramKeyMask(uint32_t kind, uint32_t storedMode, uint32_t currentMode);
// The caller's state word for the current state (bytes 0-2 of a program
// key; byte 3 is set to the kind by the compare).
uint32_t ProgramStateWord(const TnlProgramInputs& render, const TnlStateKey& tnl);
