// Fuzz target of the transform-and-lighting update pass: arbitrary
// vertex-processing blocks (every dirty word, floats with NaN and
// infinities, light tables and indices, primitive words, layout records,
// declarations) through TnlSetup::Update on a set-up with the board's real
// program builder. No sanitizer may report; while every float the input
// gave was finite (and of a modest size), every constant of both images
// must be finite; a refused pass keeps the block's dirty words; and a
// set-up leaves nothing behind when it goes.
//
// Program: a mode byte (bit 0: the builder's clip-fragment mode), then
// operations, each an opcode byte (modulo 8) and its operands; missing
// bytes read as 0. See tests/data/kernel_tnl_update_fuzz/README.md.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/orv_abi.h"
#include "core/pdev.h"
#include "kernel/3d/engine/vertex_engine_block.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/render/tnl_state_record.h"
#include "kernel/3d/render/vertex_fetch_control.h"
#include "kernel/3d/render/vertex_processing_block.h"
#include "kernel/3d/tnl/tnl_setup.h"
#include "kernel/3d/tnl/vertex_program_builder.h"
#include "kernel/kernel_device.h"
#include "kernel/sync_tags.h"
#include "kernel/tests/fuzz_machine.h"
#include "kernel/tests/fuzz_reader.h"
#include "platform/board/chip_aperture.h"
#include "platform/board/chip_dma.h"
#include "platform/board/chip_vertex.h"
#include "platform/board/simulation.h"
#include "platform/kglue/glue.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace {

using orvfuzz::Reader;

constexpr int kMaxSteps = 64;
constexpr uint32_t kLights = 16;

void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "kernel tnl update fuzz: %s\n", what);
    abort();
  }
}

// One machine with one started device for the whole run: each input gets
// a fresh set-up over the board's builder.
struct Fixture {
  Fixture()
      : board((sim.AddBoard(orvsim::BoardConfig()), sim.GetBoard(0))), dma(board), windows(board), vertex(board, dma) {
    const orvfuzz::StartedDevice started = orvfuzz::StartDevice(glue, board, dma, "kernel tnl update fuzz");
    device = started.device;
    kdev = started.kdev;
    file = started.file;
    builder = kdev->commonData->vertexProgramBuilder;
    Check(builder != nullptr, "the builder was not made");
  }
  orvsim::Simulation sim;
  orvsim::Board& board;
  orvsim::DmaEngine dma;
  orvsim::ApertureWindows windows;
  orvsim::VertexEngine vertex;
  kglue::Glue glue;
  OrvDevice* device = nullptr;
  KernelDevice* kdev = nullptr;
  kglue::File* file = nullptr;
  VertexProgramBuilder* builder = nullptr;
};

Fixture& Machine() { return orvfuzz::KeptFixture<Fixture>(); }

// A float: finite and modest (a sixteenth of a signed byte), or any bit
// pattern (NaN, infinities, huge values), which ends the finite check.
uint32_t Float(Reader& in, bool* finite) {
  const uint8_t how = in.Byte();
  if ((how & 0xC0) != 0xC0) {
    const float v = static_cast<float>(static_cast<int8_t>(in.Byte())) / 16.0f;
    uint32_t bits;
    memcpy(&bits, &v, 4);
    return bits;
  }
  *finite = false;
  static constexpr uint32_t kSpecial[4] = {0x7FC00000, 0x7F800000, 0xFF800000, 0x7F7FFFFF};
  return (how & 4) != 0 ? kSpecial[how & 3] : in.Word();
}

bool AllFinite(const VecConstShadow& s) {
  for (const VecConst& c : s.image)
    for (uint32_t w : c.w) {
      float f;
      memcpy(&f, &w, 4);
      if (!(f - f == 0.0f)) return false;
    }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fixture& m = Machine();
  Reader in(data, size);
  const uint8_t mode = in.Byte();
  m.builder->clipFragments = mode & 1;

  auto* block = new VertexProcessingBlock;
  memset(block, 0, sizeof *block);
  LightRecord lights[kLights];
  memset(lights, 0, sizeof lights);
  LightRecord* table[kLights] = {};
  uint32_t shadowMode = 0;
  block->lightTable = table;
  block->lightTableSize = kLights;
  block->pixelShadowMode = &shadowMode;
  TnlStateRecord record = {};
  VertexEngineBlock hw = {};
  VertexFetchControl fetch = {};
  bool finite = true;

  TnlSetup* setup = new TnlSetup;
  Check(setup != nullptr, "no set-up");
  setup->SetProgramBuilder(m.builder);
  Check(setup->AttachContext(&record), "attach refused a record");
  setup->SetModeBits(1);
  for (int i = 0; i < 4; ++i) setup->F(308 + i)[i] = 0.5f;

  int steps = 0;
  while (in.More() && ++steps < kMaxSteps) {
    switch (in.Byte() % 8) {
      case 0: {  // raw bytes over the block's words, its links kept
        const uint32_t at = in.Half() % sizeof *block;
        const uint32_t n = in.Byte() % 64;
        auto* bytes = reinterpret_cast<uint8_t*>(block);
        for (uint32_t i = 0; i < n && at + i < sizeof *block; ++i) bytes[at + i] = in.Byte();
        block->lightTable = table;
        block->lightTableSize = kLights;
        block->pixelShadowMode = &shadowMode;
        finite = false;
        break;
      }
      case 1: {  // one float field
        uint32_t* fields[] = {&block->pointSize, &block->pointMin, &block->pointMax, &block->pointScale[0],
                              &block->lineWidth, &block->factor, &block->depthBiasWords[0],
                              &block->depthBiasWords[1], &block->depthRange[0], &block->viewportGroup.scale[0],
                              &block->viewportGroup.scale[1], &block->viewportGroup.depth,
                              &block->fog.startEnd[0][0], &block->fog.startEnd[1][1], &block->fog.density,
                              &block->clipPlanes[in.Byte() % kMaxClipPlanes][in.Byte() % 4]};
        *fields[in.Byte() % (sizeof fields / sizeof fields[0])] = Float(in, &finite);
        break;
      }
      case 2: {  // a light
        const uint32_t index = in.Byte() % kLights;
        LightRecord& l = lights[index];
        l.type = in.Byte() % 5;
        uint32_t* words = &l.diffuse[0];
        for (uint32_t i = 0; i < 25; ++i) words[i] = Float(in, &finite);
        table[index] = (in.Byte() & 7) != 0 ? &l : nullptr;
        break;
      }
      case 3: {  // the enabled lights: any index, any count
        block->enabledLightCount = in.Byte() & 0xF;
        for (uint32_t& e : block->enabledLights) e = in.Byte() % 24;
        break;
      }
      case 4: {  // a pass
        block->transformDirty = in.Word();
        block->matrixDirty = in.Word();
        block->worldDirty = in.Word();
        block->texCoords.dirty = in.Byte();
        block->texCoords.dirty1 = in.Byte();
        block->fog.dirty = in.Byte();
        block->third.dirty = in.Byte();
        block->viewportGroup.dirty = in.Half();
        setup->force = in.Byte() & 1;
        const uint32_t dirty = block->transformDirty;
        const bool ok = setup->Update(block, &fetch, &hw);
        if (!ok) Check(block->transformDirty == dirty, "a refused pass lost its dirty words");
        if (ok && finite)
          Check(AllFinite(setup->fixedImage) && AllFinite(setup->shaderImage), "finite input, a non-finite constant");
        // The batch ends; the engine is done with it.
        const uint32_t tag = TakeNextTag(m.kdev->sharedLocked);
        m.builder->SealBatchTag(tag);
        m.kdev->sharedLocked->completedTag = tag;
        break;
      }
      case 5: {  // layouts and declarations
        uint32_t words[12];
        for (uint32_t& w : words) w = in.Word();
        switch (in.Byte() % 4) {
          case 0: setup->SelectInputLayout(words); break;
          case 1: setup->RemoveEntry(words); break;
          case 2: setup->LoadVertexDeclaration(words, in.Byte() % 13); break;
          default: setup->DeleteVertexShader(words[0]); break;
        }
        memcpy(block->layout, words, sizeof block->layout);
        break;
      }
      case 6: {  // a matrix
        const uint32_t which = in.Byte() % 42;
        Matrix4Words* target = which < 32   ? &block->world[which]
                               : which < 40 ? &block->texture[which - 32]
                               : which == 40 ? &block->view
                                             : &block->projection;
        for (uint32_t& w : target->m) w = Float(in, &finite);
        break;
      }
      default: {  // control words
        block->control = in.Word();
        block->controlByte = in.Byte();
        block->flags = in.Word();
        block->vertexFlags = in.Word();
        block->tnlMode = in.Word();
        block->cullMode = in.Byte();
        block->twoSideMode = in.Byte();
        block->clipPlaneEnable = in.Byte();
        block->texCoords.setCount = in.Byte();
        for (auto& s : block->texCoords.sets) s = {in.Word(), in.Word()};
        block->fog.vertexFog = in.Byte() & 1;
        block->fog.firstRange = in.Byte() & 1;
        block->fog.mode = in.Byte();
        shadowMode = in.Byte() & 1;
        if ((in.Byte() & 0xF0) == 0xF0) setup->fixedFunction = static_cast<uint8_t>(in.Byte() & 1);
        break;
      }
    }
  }
  delete setup;
  Check(hw.mainPrograms[6].program == nullptr && hw.lightingPrograms[0].program == nullptr,
        "the record still names a program of a set-up that went");
  delete block;
  return 0;
}
