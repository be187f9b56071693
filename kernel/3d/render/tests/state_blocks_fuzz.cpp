// Fuzz target of the state blocks: a render context's table of blocks runs a
// program of operations (create by type, begin and end recording with
// nesting, record ids of every kind with any stage, apply, capture again,
// erase, lights set and enabled, render states set) and after each one the
// table must hold exactly the ids a reference model says each block holds,
// with the recording depth the model keeps. Keys come from a small set, so
// that blocks are replaced and erased while recorded, or from the whole
// range. The sanitizers end the run on any memory fault; a mismatch traps.
//
// Program: operations of an opcode byte and its operands; missing bytes
// read as 0. See tests/data/kernel_state_blocks_fuzz/README.md.
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <tuple>

#include "core/heap_object.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/state_blocks.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/tests/fuzz_reader.h"
#include "kernel/tests/kernel_fixture.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace {

using orvfuzz::Reader;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// The reference model: per key, the (kind, stage, id) triples the block
// holds and whether it records.
using Id = std::tuple<uint32_t, uint32_t, uint32_t>;
struct ModelBlock {
  std::set<Id> ids;
  bool recording = false;
};

class Model {
 public:
  explicit Model(const RenderState3d* state) : state_(state) {}

  // What a block accepts: the kinds the render state keeps, each id and
  // stage within its bounds.
  static bool Accepts(uint32_t kind, uint32_t id, uint32_t stage) {
    switch (kind) {
      case kSbRenderStates: return id >= 1 && id < kRenderStateIds;
      case kSbStageStates: return stage < kBlockStages && id <= kStageStates;
      case kSbLights:
      case kSbLightEnables: return id <= kMaxLightIndex;
      case kSbStreams: return id < kBlockStreams;
      case kSbIndexSource:
      case kSbMaterial:
      case kSbViewport:
      case kSbDepthRange:
      case kSbPixelProgram:
      case kSbVertexShader: return id == 0;
      case kSbTransforms:
        return std::count(std::begin(kTransformIds), std::end(kTransformIds), id) != 0;
      case kSbClipPlanes: return id < 6;
      case kSbPixelConstants: return id < 8;
      case kSbVertexConstants: return id <= 255;
      default: return false;
    }
  }
  static void AddKey(ModelBlock& b, uint32_t kind, uint32_t id, uint32_t stage) {
    if (Accepts(kind, id, stage)) b.ids.insert({kind, kind == kSbStageStates ? stage : 0, id});
  }

  // A fresh empty block under the key, or false when the table is full.
  bool Add(uint32_t key) {
    auto it = blocks.find(key);
    if (it == blocks.end() && blocks.size() >= kMaxStateBlocks) return false;
    blocks[key] = ModelBlock();
    return true;
  }
  void Capture(ModelBlock& b, uint32_t kind) {
    const bool all = kind == kCaptureAll || kind == kCaptureAllStreams;
    if (all || kind == kCapturePixel) {
      for (uint16_t id : all ? std::set<uint16_t>(kAllRenderStateIds, kAllRenderStateIds + 73)
                             : std::set<uint16_t>(kPixelRenderStateIds, kPixelRenderStateIds + 39))
        AddKey(b, kSbRenderStates, id, 0);
      for (uint32_t s = 0; s < kBlockStages; ++s)
        for (uint8_t id : kAllStageStateIds) AddKey(b, kSbStageStates, id, s);
    }
    if (kind == kCaptureVertex) {
      for (uint16_t id : kVertexRenderStateIds) AddKey(b, kSbRenderStates, id, 0);
      for (uint32_t s = 0; s < kBlockStages; ++s)
        for (uint8_t id : kVertexStageStateIds) AddKey(b, kSbStageStates, id, s);
    }
    if (all) {
      AddKey(b, kSbViewport, 0, 0);
      AddKey(b, kSbDepthRange, 0, 0);
      for (uint16_t id : kTransformIds) AddKey(b, kSbTransforms, id, 0);
      for (uint32_t p = 0; p < 6; ++p) AddKey(b, kSbClipPlanes, p, 0);
      AddKey(b, kSbMaterial, 0, 0);
    }
    if (all || kind == kCaptureVertex) {
      for (uint32_t c = 0; c < 256; ++c) AddKey(b, kSbVertexConstants, c, 0);
      AddKey(b, kSbVertexShader, 0, 0);
    }
    if (all || kind == kCapturePixel) {
      AddKey(b, kSbPixelProgram, 0, 0);
      for (uint32_t c = 0; c < 8; ++c) AddKey(b, kSbPixelConstants, c, 0);
    }
    if (all || kind == kCaptureVertex) {
      // Every light the render state has a record of, 1 up.
      for (uint32_t i = 1; i <= kMaxLightIndex; ++i) {
        if (state_->lights[i] == nullptr) continue;
        AddKey(b, kSbLights, i, 0);
        AddKey(b, kSbLightEnables, i, 0);
      }
    }
  }

  std::map<uint32_t, ModelBlock> blocks;
  uint32_t depth = 0;

 private:
  const RenderState3d* state_;
};

// The table against the model: the same keys, ids, recording flags and depth.
void Compare(const StateBlockTable& table, const Model& model, uint32_t probe) {
  Check(table.depth == model.depth);
  Check(table.blocks.size() == model.blocks.size());
  Check((table.Find(probe) != nullptr) == (model.blocks.count(probe) != 0));
  for (const auto& [key, m] : model.blocks) {
    const StateBlock* b = table.Find(key);
    Check(b != nullptr && b->key == key);
    Check((b->recording != 0) == m.recording);
    size_t held = 0;
    for (uint32_t kind = 0; kind < kSbKinds; ++kind) {
      const uint32_t stages = kind == kSbStageStates ? kBlockStages : 1;
      for (uint32_t s = 0; s < stages; ++s) held += b->Count(kind, s);
    }
    Check(held == m.ids.size());
    for (const auto& [kind, stage, id] : m.ids) Check(b->Holds(kind, id, stage));
  }
  // The saved state exists exactly while recording runs.
  Check((table.saved != nullptr) == (model.depth != 0));
}

uint32_t Key(Reader& in) {
  const uint8_t pick = in.Byte();
  return pick < 0xC0 ? pick % 12 : in.Word();
}

void Program(RenderContext3d* context, StateBlockTable& table, Reader& in) {
  RenderState3d* state = &context->state;
  Model model(state);
  for (int steps = 0; in.More() && steps < 512; ++steps) {
    const uint8_t op = in.Byte() % 11;
    uint32_t probe = 0;
    switch (op) {
      case 0: {  // create a block of a type and capture it
        const uint32_t key = Key(in);
        const uint32_t type = in.Byte() % 5;
        probe = key;
        const bool added = model.Add(key);
        Check(table.Create(key, type) == (added ? 1u : 0u));
        if (added) {
          const uint32_t kind = type == 1 ? kCaptureAll : type == 2 ? kCapturePixel : type == 3 ? kCaptureVertex
                                                                                             : kCaptureRecorded;
          model.Capture(model.blocks[key], kind);
        }
        break;
      }
      case 1: {  // begin recording (a fresh block under the key)
        const uint32_t key = Key(in);
        probe = key;
        const bool added = model.Add(key);
        Check(table.Begin(key) == (added ? 1u : 0u));
        if (added) {
          model.blocks[key].recording = true;
          ++model.depth;
        }
        break;
      }
      case 2: {  // end recording
        const uint32_t key = Key(in);
        probe = key;
        auto it = model.blocks.find(key);
        if (it != model.blocks.end()) it->second.recording = false;
        if (model.depth > 0) --model.depth;
        Check(table.End(key) == model.depth);
        break;
      }
      case 3: {  // record an id into every block that records
        const uint32_t kind = in.Byte() % 16;
        const uint8_t wide = in.Byte();
        const uint32_t id = wide < 0xE0 ? wide : in.Word();
        const uint32_t stage = in.Byte() % 10;
        for (auto& [key, b] : model.blocks)
          if (b.recording) Model::AddKey(b, kind, id, stage);
        table.RecordState(kind, id, stage);
        break;
      }
      case 4: {  // apply
        const uint32_t key = Key(in);
        probe = key;
        const uint8_t program = state->pixel.programSelector;
        Check(table.ApplyBlock(key) == (model.blocks.count(key) != 0 ? 1u : 0u));
        // The pixel program stays; a held material is the render state's.
        Check(state->pixel.programSelector == program);
        if (const StateBlock* b = table.Find(key); b != nullptr && context->tnl != nullptr) {
          auto it = b->material.find(0);
          if (it != b->material.end())
            Check(memcmp(context->tnl->fixedImage.image[kCMaterialDiffuse].w, it->second->vector, 64) == 0);
        }
        break;
      }
      case 5: {  // capture again
        const uint32_t key = Key(in);
        probe = key;
        Check(table.CaptureAgain(key) == (model.blocks.count(key) != 0 ? 1u : 0u));
        break;
      }
      case 6: {  // erase
        const uint32_t key = Key(in);
        probe = key;
        model.blocks.erase(key);
        table.Erase(key);
        break;
      }
      case 7: {  // a light record (any index, any type and angles)
        const uint32_t index = in.Byte() % 260;
        LightRecord light = {};
        light.type = in.Byte() % 4;
        light.theta = in.Word();
        light.phi = in.Word();
        light.position[0] = in.Word();
        Check(state->SetLight(index, &light) == (index <= kMaxLightIndex));
        break;
      }
      case 8: {  // a light enabled or disabled
        const uint32_t index = in.Byte() % 260;
        state->EnableLight(index, (in.Byte() & 1) != 0);
        Check(state->activeLightCount <= kActiveLights);
        break;
      }
      case 9: {  // render states
        uint32_t pair[2] = {in.Word() % 300, in.Word()};
        state->SetRenderStates(pair, 1);
        break;
      }
      case 10: {  // the material and the bound pixel program
        uint32_t material[16];
        for (uint32_t& w : material) w = in.Word();
        state->SetMaterial(material);
        const uint32_t pair[2] = {19, in.Byte()};
        state->SetDriverStates(pair, 1);
        break;
      }
    }
    Compare(table, model, probe);
  }
  // Recording left running ends here; the saved state goes with the last end.
  while (model.depth > 0) {
    --model.depth;
    Check(table.EndRecording(0xFFFFFFFFu) == model.depth);
  }
  Check(table.saved == nullptr);
}

void Run(const uint8_t* data, size_t size) {
  orvmachine::Machine machine;
  orvmachine::MachineBoard& parts = machine.AddBoard(ktest::KernelBoard(orvsim::BoardConfig()));
  orvmachine::KernelModule& module = machine.LoadKernelModule(
      parts, {.file = "", .table = &orv_kstrn_driver, .bmFlags = ktest::kTestBmFlags, .minor = 0, .makeDevice = false});
  kglue::Glue& glue = module.glue;
  {
    RenderContext3d* context = OsNew<RenderContext3d>();
    if (context == nullptr) __builtin_trap();
    context->state.owner = context;
    context->tnl = new TnlSetup;
    if (context->tnl == nullptr) __builtin_trap();
    auto* table = new StateBlockTable(&context->state);
    Check(table != nullptr && table->ok());
    Reader in(data, size);
    Program(context, *table, in);
    delete table;
    OsDelete(context);
  }
  glue.Unload();
  if (!glue.LiveBlocks().empty()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Run(data, size);
  return 0;
}
