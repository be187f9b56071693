// Fuzz target of the state blocks: a render context's table of blocks runs a
// program of operations (create by type, begin and end recording with
// nesting, record ids of every kind with any stage, apply, capture again,
// erase, lights set and enabled, render states set) and after each one the
// table must hold exactly the ids a reference model says each block holds,
// with the recording depth the model keeps. Keys come from a small set, so
// that blocks are replaced and erased while recorded, or from the whole
// range. The sanitizers end the run on any memory fault; a mismatch traps.
//
// The check after an operation looks at what it can change: the table's
// depth, size and saved state, and the block under its key (or, for a
// recorded id, that id in every recording block); every block is compared
// whole every kFullCompareSteps operations and at the end, so that a
// change to another block is still caught, within the same input.
//
// The module stays loaded for the whole run, with one render-context
// record and its transform set-up, which are made again in place after
// every input; the glue must then hold what it held before the first
// (kernel/tests/fuzz_books.h).
//
// Program: operations of an opcode byte and its operands; missing bytes
// read as 0. See tests/data/kernel_state_blocks_fuzz/README.md.
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <new>
#include <vector>

#include "core/heap_object.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/state_blocks.h"
#include "kernel/3d/render/tests/state_block_queries.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/tests/fuzz_books.h"
#include "kernel/tests/fuzz_machine.h"
#include "kernel/tests/fuzz_reader.h"
#include "kernel/tests/kernel_fixture.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace {

using orvfuzz::Reader;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// The reference model: per key, the (kind, stage, id) triples the block
// holds, each packed in one word and kept sorted, and whether it records.
constexpr uint32_t Pack(uint32_t kind, uint32_t stage, uint32_t id) { return kind << 20 | stage << 16 | id; }
struct ModelBlock {
  std::vector<uint32_t> ids;
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
  static uint32_t KeyOf(uint32_t kind, uint32_t id, uint32_t stage) {
    return Pack(kind, kind == kSbStageStates ? stage : 0, id);
  }
  // One id recorded: kept in order.
  static void AddKey(ModelBlock& b, uint32_t kind, uint32_t id, uint32_t stage) {
    if (!Accepts(kind, id, stage)) return;
    const uint32_t key = KeyOf(kind, id, stage);
    auto at = std::lower_bound(b.ids.begin(), b.ids.end(), key);
    if (at == b.ids.end() || *at != key) b.ids.insert(at, key);
  }

  // A fresh empty block under the key, or false when the table is full.
  bool Add(uint32_t key) {
    auto it = blocks.find(key);
    if (it == blocks.end() && blocks.size() >= kMaxStateBlocks) return false;
    blocks[key] = ModelBlock();
    return true;
  }
  void Capture(ModelBlock& b, uint32_t kind) {
    std::vector<uint32_t>& ids = b.ids;
    auto add = [&](uint32_t k, uint32_t id, uint32_t stage) {
      if (Accepts(k, id, stage)) ids.push_back(KeyOf(k, id, stage));
    };
    const bool all = kind == kCaptureAll || kind == kCaptureAllStreams;
    if (all || kind == kCapturePixel) {
      if (all) {
        for (uint16_t id : kAllRenderStateIds) add(kSbRenderStates, id, 0);
      } else {
        for (uint16_t id : kPixelRenderStateIds) add(kSbRenderStates, id, 0);
      }
      for (uint32_t s = 0; s < kBlockStages; ++s)
        for (uint8_t id : kAllStageStateIds) add(kSbStageStates, id, s);
    }
    if (kind == kCaptureVertex) {
      for (uint16_t id : kVertexRenderStateIds) add(kSbRenderStates, id, 0);
      for (uint32_t s = 0; s < kBlockStages; ++s)
        for (uint8_t id : kVertexStageStateIds) add(kSbStageStates, id, s);
    }
    if (all) {
      add(kSbViewport, 0, 0);
      add(kSbDepthRange, 0, 0);
      for (uint16_t id : kTransformIds) add(kSbTransforms, id, 0);
      for (uint32_t p = 0; p < 6; ++p) add(kSbClipPlanes, p, 0);
      add(kSbMaterial, 0, 0);
    }
    if (all || kind == kCaptureVertex) {
      for (uint32_t c = 0; c < 256; ++c) add(kSbVertexConstants, c, 0);
      add(kSbVertexShader, 0, 0);
    }
    if (all || kind == kCapturePixel) {
      add(kSbPixelProgram, 0, 0);
      for (uint32_t c = 0; c < 8; ++c) add(kSbPixelConstants, c, 0);
    }
    if (all || kind == kCaptureVertex) {
      // Every light the render state has a record of, 1 up.
      for (uint32_t i = 1; i <= kMaxLightIndex; ++i) {
        if (state_->lights[i] == nullptr) continue;
        add(kSbLights, i, 0);
        add(kSbLightEnables, i, 0);
      }
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  }

  std::map<uint32_t, ModelBlock> blocks;
  uint32_t depth = 0;

 private:
  const RenderState3d* state_;
};

// What the table holds beside its blocks: depth, size, whether the probed
// key is there, and a saved state exactly while recording runs.
void CompareShape(const StateBlockTable& table, const Model& model, uint32_t probe) {
  Check(table.depth == model.depth);
  Check(table.blocks.size() == model.blocks.size());
  Check((table.Find(probe) != nullptr) == (model.blocks.count(probe) != 0));
  Check((table.saved != nullptr) == (model.depth != 0));
}

// How many ids a block holds, over every kind and stage.
size_t HeldCount(const StateBlock* b) {
  size_t held = 0;
  for (uint32_t kind = 0; kind < kSbKinds; ++kind) {
    const uint32_t stages = kind == kSbStageStates ? kBlockStages : 1;
    for (uint32_t s = 0; s < stages; ++s) held += StateBlockCount(*b, kind, s);
  }
  return held;
}

// Every id a block holds, packed as the model packs them, in the model's
// order: the kinds in turn, each map walked in ascending id order.
template <class Map>
void Collect(const Map& map, uint32_t kind, uint32_t stage, std::vector<uint32_t>& out) {
  for (const auto& entry : map) out.push_back(Pack(kind, stage, entry.first));
}

void HeldIds(const StateBlock& b, std::vector<uint32_t>& out) {
  out.clear();
  Collect(b.renderStates, kSbRenderStates, 0, out);
  for (uint32_t s = 0; s < kBlockStages; ++s) Collect(b.stageStates[s], kSbStageStates, s, out);
  Collect(b.transforms, kSbTransforms, 0, out);
  Collect(b.clipPlanes, kSbClipPlanes, 0, out);
  Collect(b.material, kSbMaterial, 0, out);
  Collect(b.lights, kSbLights, 0, out);
  Collect(b.lightEnables, kSbLightEnables, 0, out);
  Collect(b.viewport, kSbViewport, 0, out);
  Collect(b.depthRange, kSbDepthRange, 0, out);
  Collect(b.pixelProgram, kSbPixelProgram, 0, out);
  Collect(b.pixelConstants, kSbPixelConstants, 0, out);
  Collect(b.vertexShader, kSbVertexShader, 0, out);
  Collect(b.vertexConstants, kSbVertexConstants, 0, out);
  Collect(b.streams, kSbStreams, 0, out);
  Collect(b.indexSource, kSbIndexSource, 0, out);
}
static_assert(kSbKinds == kSbIndexSource + 1, "HeldIds walks every kind");

// One block against the model: its key, recording flag and ids (the
// count the block answers as well as the ids its maps hold).
void CompareBlock(const StateBlockTable& table, uint32_t key, const ModelBlock& m) {
  static std::vector<uint32_t>* held = new std::vector<uint32_t>;
  const StateBlock* b = table.Find(key);
  Check(b != nullptr && b->key == key);
  Check((b->recording != 0) == m.recording);
  Check(HeldCount(b) == m.ids.size());
  HeldIds(*b, *held);
  Check(*held == m.ids);
}

// The whole table against the model.
void Compare(const StateBlockTable& table, const Model& model, uint32_t probe) {
  CompareShape(table, model, probe);
  for (const auto& [key, m] : model.blocks) CompareBlock(table, key, m);
}

// The probed key's block, when the model has one.
void CompareProbe(const StateBlockTable& table, const Model& model, uint32_t probe) {
  CompareShape(table, model, probe);
  auto it = model.blocks.find(probe);
  if (it != model.blocks.end()) CompareBlock(table, probe, it->second);
}

constexpr int kFullCompareSteps = 64;

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
    bool probed = true;  // the operation changes at most the probed block
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
        Check(BeginStateBlock(table, key) == (added ? 1u : 0u));
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
        Check(EndStateBlock(table, key) == model.depth);
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
        // Every block that records holds the id now, if it is one a block
        // takes, and as many ids as the model says.
        for (const auto& [key, b] : model.blocks) {
          if (!b.recording) continue;
          const StateBlock* held = table.Find(key);
          Check(held != nullptr && HeldCount(held) == b.ids.size());
          if (Model::Accepts(kind, id, stage)) Check(StateBlockHolds(*held, kind, id, stage));
        }
        probed = false;
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
        Check(CaptureStateBlockAgain(table, key) == (model.blocks.count(key) != 0 ? 1u : 0u));
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
    if ((steps + 1) % kFullCompareSteps == 0) {
      Compare(table, model, probe);
    } else if (probed) {
      CompareProbe(table, model, probe);
    } else {
      CompareShape(table, model, probe);
    }
  }
  Compare(table, model, 0);
  // Recording left running ends here; the saved state goes with the last end.
  while (model.depth > 0) {
    --model.depth;
    Check(table.EndRecording(0xFFFFFFFFu) == model.depth);
  }
  Check(table.saved == nullptr);
}

// The machine and the loaded module for the whole run, with the render
// context every input's table belongs to.
struct Fixture {
  orvmachine::Machine machine;
  orvmachine::MachineBoard& parts;
  orvmachine::KernelModule& module;
  kglue::Glue& glue;
  RenderContext3d* context = nullptr;
  orvfuzz::FreshBooks books;

  Fixture()
      : parts(machine.AddBoard(ktest::KernelBoard(orvsim::BoardConfig()))),
        module(orvfuzz::LoadModule(machine, parts)),
        glue(module.glue),
        books(glue, parts.board, nullptr, {}, "kernel state blocks fuzz") {
    context = OsNew<RenderContext3d>();
    Check(context != nullptr);
    Start();
    books.Take();
  }

  // The context's links as an input finds them, and a transform set-up.
  void Start() {
    context->state.owner = context;
    context->tnl = new TnlSetup;
    Check(context->tnl != nullptr);
  }

  // For the next input: the render context made again in place (as OsNew
  // makes one: cleared, then constructed; its destruction takes the
  // set-up and every light record), the glue's log dropped; then the
  // glue must hold what it held at the start.
  void EndInput() {
    orvfuzz::RenewInPlace(context);
    Start();
    books.Check();
    glue.ClearLog();
  }
};

Fixture& TheFixture() { return orvfuzz::KeptFixture<Fixture>(); }

void Run(const uint8_t* data, size_t size) {
  Fixture& f = TheFixture();
  auto* table = new StateBlockTable(&f.context->state);
  Check(table != nullptr && table->ok());
  Reader in(data, size);
  Program(f.context, *table, in);
  delete table;
  f.EndInput();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Run(data, size);
  return 0;
}
