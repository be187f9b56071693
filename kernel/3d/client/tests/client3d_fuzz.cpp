// Fuzz target of the 3D clients' requests behind the device node: a board
// whose device object is started, one client context on it, then a
// program of operations: request codes with arbitrary block contents,
// token streams anywhere in the command buffer, words rewritten between
// requests and during them (the glue's user-memory mutator), pointers at
// mapped, unmapped and faulty memory, a device stop and start; then the
// file is closed, the device destroyed and the module unloaded. Nothing may
// be left in the glue, and the sanitizers end the run on any other fault.
//
// Program: operations of an opcode byte and its operands; missing bytes
// read as 0. See tests/data/kernel_client3d_fuzz/README.md. One operation
// writes a stream of well-formed render-state tokens whose ids, stages,
// states and counts run past every bound, runs it on a 3D context, and
// then applies the render state as a draw would (a step only this test
// takes): the render context must come out whole. Another runs a draw
// step and then a clear of the context's targets: depth targets of every
// depth format and colour targets of classes 2 and 4, bound and validated
// as the context's own targets when the input says so. The pixel-program
// tokens (69-73) mix with the state tokens; after every draw step the
// committed fixed-function program's unit and stage images must equal
// those of a fresh program built and committed for the same state.
// The draw tokens that change the render context's state for later draws
// mix with them too, every field taken from the input: stream sources (8),
// clears over the drawable's visible rectangles (21), client command
// ranges inside, across and outside the client's own buffers (26), lights
// (33), the vertex engine's stored matrices (34) and data written into
// data buffers (80); and the draws themselves: ranged draws (24), strips
// (25), client packets and ranges (27), user vertices (28), target
// synchronisations (13) and batches (68), with element lists, primitive
// types 0 to 15, counts, offsets and pairs inside, across and past the
// client's plain-page and page-locked buffers.
// The client's surfaces mix with all of it: creations of any description
// (13-16 and 28 name what they made, or any handle), destructions, locks
// of any level and face, unlocks, presents of any flags, boxes, level,
// face and mask, flips, token 55 of any handle and value, and request 3
// with the device stopped, started and its primary surface declared again
// (or not) before it. The device-wide masters must match the clones the
// client holds after every operation; once every surface is destroyed no
// surface, level id or master may remain, and none once the client goes.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <memory>

#include "core/orv_ioctl.h"
#include "core/pdev.h"
#include "kernel/3d/client/client_context.h"
#include "kernel/3d/client/client_request.h"
#include "kernel/3d/client/client_surfaces.h"
#include "kernel/3d/engine/engine_owner.h"
#include "kernel/3d/engine/tests/register_image.h"
#include "kernel/3d/render/context_state.h"
#include "kernel/3d/render/pixel_program_cache.h"
#include "kernel/3d/render/render_context.h"
#include "kernel/3d/render/render_state.h"
#include "kernel/3d/surfaces/format_catalogue.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/3d/surfaces/surface3d.h"
#include "kernel/3d/targets/render_target_state.h"
#include "kernel/3d/targets/target_clears.h"
#include "kernel/tests/fuzz_reader.h"
#include "kernel/tests/kernel_fixture.h"
#include "kernel/vidmem/surface_mapper.h"
#include "platform/client3d/client3d.h"

extern "C" const OrvKstrnDriver orv_kstrn_driver;

namespace {

using orvfuzz::Reader;

// A stream of render-state tokens from the input: render states with ids
// 0 to 600, driver states 0 to 40, sampler states and texture stages of
// stages 0 to 15 and states 0 to 15, mode states of modes 0 to 7,
// pipeline records with any count, transforms, clip planes 0 to 7, the
// float states and locks.
// The client's buffers the draw tokens name: the command buffer (plain
// pages, which the engine never fetches) and a page-locked one whose words
// are pairs {count 0, an all-padding header}, so that a range of it that
// starts and ends on a pair decodes cleanly.
struct ClientBuffers {
  const client3d::Buffer* commands;
  const client3d::Buffer* locked;
};

// A draw set-up the token program asks for (ApplyDrawSetUp).
struct DrawSetUp {
  uint32_t rectCount = 0;
  int32_t rects[4][4] = {};
  uint32_t elementCount = 0;
  uint8_t elements[16] = {};
};

constexpr uint32_t kLockedBytes = 4096;
constexpr uint32_t kPaddingHeader = 0x21212121;

// A small signed value, or any word.
int32_t SmallOrAny(Reader& in) {
  const uint8_t b = in.Byte();
  return b < 200 ? static_cast<int32_t>(b) - 40 : static_cast<int32_t>(in.Word());
}

// A byte count: a light record's size, a few bytes, none, or any word.
uint32_t ByteCount(Reader& in) {
  const uint8_t b = in.Byte();
  switch (b % 4) {
    case 0:
      return sizeof(LightRecord) + b / 4 % 8 - 4;
    case 1:
      return b / 4;
    case 2:
      return 0;
    default:
      return in.Word();
  }
}

// Entries followed by their trailing bytes (the sum of the entries' counts,
// rounded up to words): at most 1024 of them are written, the rest lie
// past the stream.
void TrailingToken(client3d::TokenWriter& tokens, uint32_t opcode, uint32_t count, const std::vector<uint32_t>& words,
                   uint64_t trailing, Reader& in) {
  trailing = (trailing + 3) & ~uint64_t{3};
  std::vector<uint32_t> payload = words;
  const uint64_t written = trailing < 1024 ? trailing : 1024;
  for (uint64_t i = 0; i < written / 4; ++i) payload.push_back(i < 24 ? in.Word() : 0);
  tokens.Token(opcode, count, payload);
}

// One end of a client command range: in the page-locked buffer (on a pair
// boundary, or 1 to 3 bytes off a word), in the command buffer, just below
// and at 4 GiB, or at the very top.
uint64_t RangeStart(Reader& in, const ClientBuffers& buffers) {
  const uint8_t b = in.Byte();
  const uint64_t offset = 8u * (in.Half() % (kLockedBytes / 8)) + (b & 0x80 ? b % 4 : 0);
  switch (b % 5) {
    case 0:
    case 1:
      return buffers.locked->bus + offset;
    case 2:
      return buffers.commands->bus + offset;
    case 3:
      return 0x100000000ull - 8 + offset % 16;
    default:
      return UINT64_MAX - 7 + offset % 8;
  }
}

// A byte offset or count: small, near a page or a buffer's end, or any.
uint32_t ByteOffset(Reader& in) {
  const uint8_t b = in.Byte();
  switch (b % 4) {
    case 0:
      return b / 4;
    case 1:
      return 4096u - 64u + b / 4;
    case 2:
      return 8192u - 64u + b / 4;
    default:
      return in.Word();
  }
}

// A client buffer handle: the command buffer, the page-locked one, or any.
uint64_t BufferHandle(Reader& in, const ClientBuffers& buffers) {
  const uint8_t b = in.Byte();
  return b % 3 == 0 ? buffers.commands->handle : (b % 3 == 1 ? buffers.locked->handle : in.Quad() % 16);
}

// Draw tokens of any field: stream sources (8), clears (21), client
// command ranges (26), lights (33), vertex-engine matrices (34), data
// written into data buffers (80), and the draws 24, 25, 27, 28, 13, 68.
void DrawToken(client3d::TokenWriter& tokens, uint32_t kind, uint32_t entries, Reader& in,
               const ClientBuffers& buffers) {
  std::vector<uint32_t> words;
  switch (kind) {
    case 0:
      for (uint32_t e = 0; e < entries; ++e) {
        const uint32_t stream = in.Byte() % 12u;
        const uint8_t pick = in.Byte();
        uint64_t id = 0;
        switch (pick % 6) {
          case 0:
            id = buffers.commands->handle;
            break;
          case 1:
            id = buffers.locked->handle;
            break;
          case 2:
            id = pick / 6 % 8;
            break;
          case 3:
            id = in.Word();
            break;
          case 4:
            id = in.Quad();
            break;
          default:
            id = static_cast<uint64_t>(pick / 6 % 8) << 32 | (pick / 48u);
            break;
        }
        const uint8_t s = in.Byte();
        const uint32_t stride = s < 160 ? s : (s < 208 ? 65534u + s % 3 : in.Word());
        const uint8_t k = in.Byte();
        const uint32_t source = k % 3 == 0 ? 0 : (k % 3 == 1 ? 0xFFFFFFFFu : in.Word());
        words.insert(words.end(), {stream, in.Byte(), static_cast<uint32_t>(id), static_cast<uint32_t>(id >> 32),
                                   stride, in.Byte(), source, in.Byte()});
      }
      tokens.Token(8, entries, words);
      break;
    case 1:
      for (uint32_t e = 0; e < entries; ++e) {
        words.push_back(in.Byte());  // flags
        for (uint32_t i = 0; i < 4; ++i) words.push_back(in.Word());
        for (uint32_t i = 0; i < 4; ++i) words.push_back(static_cast<uint32_t>(SmallOrAny(in)));
      }
      tokens.Token(21, entries, words);
      break;
    case 2:
      for (uint32_t e = 0; e < entries; ++e) {
        const uint64_t start = RangeStart(in, buffers);
        const uint8_t l = in.Byte();
        // Up to 640 bytes on, 1 to 3 bytes off a word; or any end.
        uint64_t end = l < 224 ? start + 8u * (in.Byte() % 80u) + (l & 0x10 ? l % 4 : 0) : in.Quad();
        // A word-aligned end inside the locked buffer stays on a pair.
        const client3d::Buffer& locked = *buffers.locked;
        if ((end & 3) == 0 && end >= locked.bus && end - locked.bus <= locked.size)
          end = locked.bus + ((end - locked.bus) & ~uint64_t{7});
        words.insert(words.end(), {in.Word(), in.Byte(), static_cast<uint32_t>(start), static_cast<uint32_t>(start >> 32),
                                   static_cast<uint32_t>(end), static_cast<uint32_t>(end >> 32)});
      }
      tokens.Token(26, entries, words);
      break;
    case 3: {
      uint64_t trailing = 0;
      for (uint32_t e = 0; e < entries; ++e) {
        const uint8_t i = in.Byte();
        const uint32_t bytes = ByteCount(in);
        words.insert(words.end(), {i < 224 ? i % 40u : in.Word(), bytes});
        trailing += bytes;
      }
      TrailingToken(tokens, 33, entries, words, trailing, in);
      break;
    }
    case 4:
      for (uint32_t e = 0; e < entries; ++e) {
        const uint8_t k = in.Byte();
        words.push_back(k < 250 ? k % 5u : in.Word());
        for (uint32_t i = 0; i < 17; ++i) words.push_back(in.Word());
      }
      tokens.Token(34, entries, words);
      break;
    case 6:
      for (uint32_t e = 0; e < entries; ++e) {
        const uint8_t k = in.Byte();
        const uint32_t kinds[] = {0x0C000000, 0x18000000, 0x1C000000, in.Word()};
        const uint32_t n = in.Byte() % 9;
        words.insert(words.end(), {kinds[k % 4], n, in.Byte() % 16u, in.Word(), in.Word(), ByteOffset(in)});
        const uint64_t index = BufferHandle(in, buffers);
        words.insert(words.end(), {static_cast<uint32_t>(index), static_cast<uint32_t>(index >> 32)});
        for (uint32_t w = 0; w < n; ++w) words.push_back(ByteOffset(in));
      }
      tokens.Token(24, entries, words);
      break;
    case 7:
      for (uint32_t e = 0; e < entries; ++e) {
        const uint8_t z = in.Byte();
        words.insert(words.end(), {in.Word(), ByteOffset(in), in.Byte() % 16u, in.Word(), in.Byte() % 8u,
                                   z < 240 ? 0 : in.Word(), z % 3 == 0 ? 2u : (z % 3 == 1 ? 4u : z), in.Word()});
      }
      tokens.Token(25, entries, words);
      break;
    case 8:
      for (uint32_t e = 0; e < entries; ++e) {
        const uint64_t handle = BufferHandle(in, buffers);
        const uint8_t r = in.Byte();
        // Ranges on the page-locked buffer's pairs, with or without the
        // trailer bit, or any offsets.
        // Bus addresses into the page-locked buffer, offsets into the
        // command buffer (and, with bit 1, offsets into the locked one).
        const uint64_t base = handle == buffers.locked->handle && (r & 2) == 0 ? buffers.locked->bus : 0;
        const uint64_t start = r < 200 ? base + 8u * (in.Half() % 1100u) : in.Quad();
        const uint64_t end = r < 200 ? start + 8u * (in.Byte() % 64u) + (r & 1) : in.Quad();
        const uint8_t st = in.Byte();
        words.insert(words.end(), {st < 128 ? 3u : st % 16u, 0, static_cast<uint32_t>(handle),
                                   static_cast<uint32_t>(handle >> 32), static_cast<uint32_t>(start),
                                   static_cast<uint32_t>(start >> 32), static_cast<uint32_t>(end),
                                   static_cast<uint32_t>(end >> 32), ByteOffset(in), 0});
      }
      tokens.Token(27, entries, words);
      break;
    case 9: {
      uint64_t trailing = 0;
      for (uint32_t e = 0; e < entries; ++e) {
        const uint32_t bytes = ByteCount(in);
        const uint8_t st = in.Byte();
        words.insert(words.end(), {in.Byte() % 16u, ByteOffset(in), st < 200 ? 4u * (1 + st % 16u) : in.Word()});
        for (uint32_t i = 0; i < 6; ++i) words.push_back(static_cast<uint32_t>(SmallOrAny(in)));
        words.push_back(bytes);
        trailing += bytes;
      }
      TrailingToken(tokens, 28, entries, words, trailing, in);
      break;
    }
    case 10:
      for (uint32_t e = 0; e < entries; ++e) {
        words.insert(words.end(), {in.Byte() % 4u, in.Byte() < 250 ? 0 : in.Word(), in.Byte() % 4u, 0,
                                   in.Byte() % 2u, in.Word(), in.Byte() % 4u, 0});
      }
      tokens.Token(13, entries, words);
      break;
    case 11:
      for (uint32_t e = 0; e < entries; ++e) {
        const uint8_t l = in.Byte();
        words.insert(words.end(), {l < 240 ? l % 4u : in.Word(), in.Byte() % 5u, ByteOffset(in), in.Byte() % 8u,
                                   in.Byte() % 2u, in.Byte() % 16u, in.Word(), in.Word(), in.Word(), in.Word(),
                                   in.Word(), in.Word()});
      }
      tokens.Token(68, entries, words);
      break;
    default: {
      uint64_t trailing = 0;
      for (uint32_t e = 0; e < entries; ++e) {
        const uint8_t i = in.Byte();
        const uint8_t o = in.Byte();
        const uint32_t offset = o < 128 ? o * 16u : (o < 192 ? 4096u - o % 64u : in.Word());
        const uint32_t bytes = ByteCount(in);
        words.insert(words.end(), {i < 240 ? i % 6u : in.Word(), offset, in.Byte(), bytes});
        trailing += bytes;
      }
      TrailingToken(tokens, 80, entries, words, trailing, in);
      break;
    }
  }
}

client3d::TokenWriter StateTokens(Reader& in, const ClientBuffers& buffers, DrawSetUp* setUp) {
  client3d::TokenWriter tokens;
  const uint32_t n = 1 + in.Byte() % 8;
  for (uint32_t t = 0; t < n; ++t) {
    const uint32_t entries = 1 + in.Byte() % 8;
    std::vector<uint32_t> words;
    // Kind bytes from 224 on pick the draw tokens.
    const uint8_t pick = in.Byte();
    if (pick >= 224) {
      // 224-247 and 255: tokens 8, 21, 26, 33, 34 and 80; 248-253: the
      // draws 24, 25, 27, 28, 13 and 68; 254: a draw set-up.
      const uint32_t k = pick - 224u;
      if (k == 30) {
        const uint8_t what = in.Byte();
        setUp->rectCount = (what & 1) != 0 ? 1 + what / 2 % 3 : 0;
        for (auto& rect : setUp->rects)
          for (int32_t& v : rect) v = static_cast<int32_t>(static_cast<uint32_t>(SmallOrAny(in)) * 4u);
        setUp->elementCount = (what & 8) != 0 ? 1 + what / 16 % 4 : 0;
        for (uint8_t& b : setUp->elements) b = in.Byte();
        continue;
      }
      if (buffers.locked != nullptr) DrawToken(tokens, k >= 24 && k < 30 ? 6 + k - 24 : k % 6, entries, in, buffers);
      continue;
    }
    const uint32_t kind = pick % 14;
    switch (kind) {
      case 0:
        for (uint32_t e = 0; e < entries; ++e) {
          const uint32_t id = in.Word() % 601;
          words.insert(words.end(), {id, in.Word()});
        }
        tokens.Token(12, entries, words);
        break;
      case 1:
        for (uint32_t e = 0; e < entries; ++e) {
          const uint32_t id = in.Byte() % 41u;
          words.insert(words.end(), {id, in.Word()});
        }
        tokens.Token(5, entries, words);
        break;
      case 2:
      case 3:
        // Sampler states {u16 stage, u16 state, value}; texture stages
        // {u16 stage, u16 handle, value}.
        for (uint32_t e = 0; e < entries; ++e) {
          const uint32_t stage = in.Byte() % 16u;
          const uint32_t second = in.Byte() % 16u;
          words.insert(words.end(), {stage | second << 16, in.Word()});
        }
        tokens.Token(kind == 2 ? 6 : 14, entries, words);
        break;
      case 4:
        for (uint32_t e = 0; e < entries; ++e) {
          const uint32_t value = in.Word();
          words.insert(words.end(), {value, in.Byte() % 8u});
        }
        tokens.Token(36, entries, words);
        break;
      case 5: {
        std::vector<uint32_t> record(1648 / 4, 0);
        record[0] = in.Word();
        for (uint32_t i = 0; i < 8; ++i) {
          const uint32_t at = 1 + in.Byte() % (record.size() - 1);
          record[at] = in.Word();
        }
        tokens.Token(69, 1, record);
        break;
      }
      case 6:
        for (uint32_t e = 0; e < entries; ++e) {
          const uint32_t pick = in.Byte();
          words.push_back(pick < 64 ? pick : pick < 128 ? 256 + pick % 40 : in.Word());
          for (uint32_t i = 0; i < 16; ++i) words.push_back(in.Byte());
        }
        tokens.Token(32, entries, words);
        break;
      case 7:
        for (uint32_t e = 0; e < entries; ++e) {
          words.push_back(in.Byte() % 8u);
          for (uint32_t i = 0; i < 4; ++i) words.push_back(in.Word());
        }
        tokens.Token(37, entries, words);
        break;
      case 8: {
        static constexpr uint32_t kFloats[][2] = {{35, 4}, {53, 4}, {54, 2}, {39, 2}, {18, 4}, {38, 4}, {7, 6}};
        const auto& which = kFloats[in.Byte() % 7];
        for (uint32_t e = 0; e < entries * which[1]; ++e) words.push_back(in.Word());
        tokens.Token(which[0], entries, words);
        break;
      }
      case 9:
        for (uint32_t e = 0; e < entries; ++e) {
          const uint32_t id = 256 + in.Byte() % 64u;
          words.insert(words.end(), {id, in.Byte() % 2u});
        }
        tokens.Token(12, entries, words);
        break;
      case 10: {  // a pipeline record of small stages, or a client program
        const bool create = (in.Byte() & 1) != 0;
        std::vector<uint32_t> record((create ? 1656 : 1648) / 4, 0);
        const uint32_t base = create ? 1 : 0;
        if (create) record[0] = in.Byte() % 4u;
        record[base] = in.Byte() % 12u;  // stage count
        for (uint32_t st = 0; st < 10; ++st) {
          uint32_t* stage = &record[base + 1 + 37 * st];
          stage[0] = in.Byte() % 13u;          // operation
          stage[1] = in.Byte() % 20u;          // destination
          for (uint32_t a = 0; a < 3; ++a) stage[4 + 3 * a] = in.Byte() % 40u;
          stage[13] = in.Byte() & 1;           // its own alpha half
        }
        for (uint32_t i = 0; i < 6; ++i) {
          const uint32_t at = base + 1 + in.Byte() % 400u;
          record[at] = in.Word();
        }
        // Kind, texture count and textures.
        record[base + 371] = in.Byte() % 3u;
        record[base + 372] = in.Byte() % 6u;
        for (uint32_t t = 0; t < 4; ++t) record[base + 373 + 9 * t] = in.Byte() % 3u == 0 ? 0 : 1;
        if (create) record[1 + 409] = in.Byte() & 1;  // kept under its id
        tokens.Token(create ? 70 : 69, 1, record);
        break;
      }
      case 11:
        for (uint32_t e = 0; e < entries; ++e) words.insert(words.end(), {in.Byte() % 5u, 0});
        tokens.Token(71, entries, words);
        break;
      case 12:
        for (uint32_t e = 0; e < entries; ++e) {
          const uint32_t pick = in.Byte();
          words.insert(words.end(), {pick % 3u, pick < 200 ? pick % 12u : in.Word(), in.Word(), in.Word(), in.Word(),
                                     in.Word()});
        }
        tokens.Token(72, entries, words);
        break;
      case 13:
        for (uint32_t e = 0; e < entries; ++e)
          words.insert(words.end(), {in.Byte() % 6u, in.Word(), in.Word(), in.Word(), in.Word()});
        tokens.Token(73, entries, words);
        break;
    }
  }
  return tokens;
}

// The committed fixed-function program against a fresh one built and
// committed for the same state into a context state of its own.
void CheckPixelProgram(RenderContext3d* context) {
  PixelProgramCache* cache = context->programCache;
  if (cache == nullptr || cache->committed == 0 || cache->current == nullptr) return;
  PixelProgram* current = cache->current;
  if (current->mode != kProgramModeFixed || current->source == nullptr) return;
  auto fresh = std::make_unique<PixelProgram>();
  std::unique_ptr<ContextState3d> target(NewContextState3d(nullptr));
  if (!fresh || !target) return;
  PixelPipelineState& live = context->state.pipelineState;
  cache->state = &live;
  const bool built = fresh->Build(cache, current->source, kProgramModeFixed);
  cache->state = nullptr;
  if (!built || !fresh->Commit(0, live, target.get(), cache->caps)) __builtin_trap();
  if (fresh->unitCount != current->unitCount || fresh->imageCount != current->imageCount) __builtin_trap();
  for (uint32_t u = 0; u < current->unitCount; ++u)
    if (memcmp(fresh->units[u].image, current->units[u].image, sizeof fresh->units[u].image) != 0) __builtin_trap();
  // The images' flag words mark what one emission changed; the rest is
  // state.
  for (uint32_t i = 0; i < current->imageCount; ++i)
    if (memcmp(&fresh->images[i].register15, &current->images[i].register15,
               sizeof fresh->images[i] - offsetof(CombinerStageImage, register15)) != 0)
      __builtin_trap();
  // The binding flags in force in the render context are the program's.
  uint32_t flags;
  memcpy(&flags, fresh->unitBinding + kUbFlags, sizeof flags);
  if (context->state.pipelineSub.bindingFlags != flags) __builtin_trap();
}

// What a draw does with the render state, and what must still hold after:
// the context's state is the engine's, and every group it does not mark
// dirty is what the board's registers hold once the engine ran the stream.
void DrawStep(RenderContext3d* context, orvmachine::MachineBoard& parts) {
  if (context == nullptr) return;
  if (context->state.Apply()) CheckPixelProgram(context);
  context->PrepareTargets();
  const RenderState3d& state = context->state;
  bool whole = state.owner == context && context->aux.owner == context && context->contextState != nullptr &&
               state.drawEmitter != nullptr && state.indexEmitter != nullptr;
  for (uint32_t i = 0; i < kConstRingRecords; ++i) whole = whole && state.constRing[i] == &state.constHomes[i];
  if (!whole) __builtin_trap();
  EngineOwner3d* owner = context->engineOwner;
  if (owner == nullptr || owner->Current() != context->contextState) __builtin_trap();
  parts.dma->RunPending();
  orvsim::Board& board = parts.board;
  const int mismatch = ktest::FirstImageMismatch(*context->contextState,
                                                 [&](uint8_t reg) { return board.Peek(0x1000 + 4u * reg, 4); });
  if (mismatch != 0) {
    // Which register, so that a finding says where to look.
    fprintf(stderr, "register 0x%02X differs from the state's image\n", mismatch & 0xFF);
    __builtin_trap();
  }
}

// No kernel address of the client's state may reach its request block.
void CheckNoKernelAddress(kglue::Glue& glue, kglue::File* file, const uint8_t* block) {
  KernelClient* kernelClient = glue.ClientOf(file);
  ClientContext* context = kernelClient != nullptr ? kernelClient->context3d : nullptr;
  if (context == nullptr || block == nullptr) return;
  std::vector<uintptr_t> addresses = {reinterpret_cast<uintptr_t>(context),
                                      reinterpret_cast<uintptr_t>(context->requestBlock),
                                      reinterpret_cast<uintptr_t>(context->staging[0]),
                                      reinterpret_cast<uintptr_t>(context->staging[1])};
  for (uint32_t handle = 1; handle < context->contexts.Capacity(); ++handle) {
    if (Context3d* c = context->contexts.Get(handle)) {
      addresses.push_back(reinterpret_cast<uintptr_t>(c));
      addresses.push_back(reinterpret_cast<uintptr_t>(c->statusPage));
      addresses.push_back(reinterpret_cast<uintptr_t>(c->scratch));
    }
  }
  for (size_t at = 0; at + 8 <= 568; at += 4) {
    uint64_t word;
    memcpy(&word, block + at, 8);
    for (uintptr_t address : addresses) {
      if (address != 0 && word == address) __builtin_trap();
    }
  }
}

// A clear on a render context's targets: a depth target of any depth
// format (17 to 28) and a colour target of class 2 or 4, placed in the
// board's local memory with any size up to 512 x 512, with any flags,
// colour, depth, stencil, viewport, clip and rectangles, by fill or by the
// engine's fast depth clear. With bit 3 of `which` the targets are first
// bound as the context's own and a draw step validates them (bit 4: the
// board's switch grants work buffers). The targets are this step's own
// and go after it, once the engine is done with them.
Surface3d* PlaceTarget(PDEV* device, uint32_t code, uint32_t width, uint32_t height) {
  if (device == nullptr || device->formatCatalogue == nullptr) return nullptr;
  SurfaceCreateRequest r;
  r.placement = kPlaceLocal;
  r.format = device->formatCatalogue->Find(code);
  r.surfaceType = 3;
  r.width = width;
  r.height = height;
  r.levels = 1;
  r.depth = 1;
  return r.format != nullptr ? Surface3d::CreatePlaced(device, &r) : nullptr;
}

void ClearStep(RenderContext3d* context, Reader& in, orvmachine::MachineBoard& parts) {
  if (context == nullptr || context->targetState == nullptr) return;
  RenderTargetState* state = context->targetState;
  static const uint32_t kColourCodes[4] = {10, 29, 30, 32};
  const uint32_t colourCode = kColourCodes[in.Byte() % 4];
  const uint32_t depthCode = 17 + in.Byte() % 12;
  uint32_t sides[4];
  for (int i = 0; i < 2; ++i) {
    sides[2 * i] = 1 + in.Word() % 512;
    sides[2 * i + 1] = 1 + in.Word() % 512;
    (void)in.Byte();  // the pixel size comes from the format
  }
  Surface3d* depth = PlaceTarget(context->device, depthCode, sides[0], sides[1]);
  Surface3d* colour = PlaceTarget(context->device, colourCode, sides[2], sides[3]);
  const uint8_t which = in.Byte();
  TargetBoard3d* board = state->common != nullptr ? TargetBoard(state->common) : nullptr;
  const bool bind = (which & 8) != 0;
  if (bind) {
    if (board != nullptr) board->switches.memoryBits = (which & 16) != 0 ? 3 : 0;
    if (depth != nullptr) depth->flagsWord |= 0x8;
    BoundSurfaceRecord r{};
    r.colour.flags = 0x1;
    r.colour.surface = (which & 2) != 0 ? colour : nullptr;
    r.depth.flags = 0x4;
    r.depth.surface = (which & 1) != 0 ? depth : nullptr;
    context->SetTargets(r);
    DrawStep(context, parts);
  }
  Surface3d* const oldDepth = state->depthCurrent;
  Surface3d* const oldColour = state->colourCurrent;
  state->depthCurrent = (which & 1) != 0 ? depth : nullptr;
  state->colourCurrent = (which & 2) != 0 ? colour : nullptr;
  state->colourDepthMode = in.Byte() % 4;
  for (int32_t& v : state->viewport) v = static_cast<int32_t>(in.Word());
  for (int32_t& v : state->clip) v = static_cast<int32_t>(in.Word());
  if (board != nullptr) board->switches.fastClear = (which & 4) != 0 ? 1 : 0;
  ClearRecord record;
  record.flags = in.Byte();
  record.colour = in.Word();
  const uint32_t z = in.Word();
  memcpy(&record.depth, &z, sizeof z);
  record.stencil = in.Word();
  ClearRect rects[4];
  const uint32_t count = in.Byte() % 5;
  for (uint32_t i = 0; i < count; ++i) {
    rects[i].left = static_cast<int32_t>(in.Word());
    rects[i].top = static_cast<int32_t>(in.Word());
    rects[i].right = static_cast<int32_t>(in.Word());
    rects[i].bottom = static_cast<int32_t>(in.Word());
  }
  ClearTargetRects(state, record, rects, count);
  state->depthCurrent = oldDepth;
  state->colourCurrent = oldColour;
  for (Surface3d* s : {depth, colour}) {
    if (s == nullptr) continue;
    if (board != nullptr && board->fastClearedDepth == s) board->fastClearedDepth = nullptr;
    if (state->common != nullptr && state->common->openRenderTarget == s) state->common->openRenderTarget = nullptr;
  }
  if (bind) {
    // The surfaces go: every reference to them with them.
    for (Surface3d* s : {depth, colour})
      if (s != nullptr) UnbindSurfaceReferences(context, s);
    if ((depth != nullptr && state->UsesSurface(depth)) || (colour != nullptr && state->UsesColourSurface(colour)))
      __builtin_trap();
    DrawStep(context, parts);
    if (board != nullptr) board->switches.memoryBits = 0;
  }
  // Memory the engine may still write is kept.
  for (Surface3d* s : {depth, colour})
    if (s != nullptr && s->AwaitEngine()) delete s;
}

// What a draw set-up asked for before the tokens run: the drawable's
// rectangles (one to three, anywhere) and an element list of one to four
// elements of any bytes on the 3D context's render context, as a vertex
// declaration would store it.
void ApplyDrawSetUp(client3d::Client& client, kglue::Glue& glue, uint32_t context3d, const DrawSetUp& setUp) {
  if (setUp.rectCount != 0) {
    client.Put64(16, 1);
    for (uint32_t i = 0; i < 4; ++i) client.Put32(24 + 4 * i, static_cast<uint32_t>(setUp.rects[0][i]));
    client.Put32(40, setUp.rectCount);
    for (uint32_t r = 0; r < setUp.rectCount; ++r)
      for (uint32_t i = 0; i < 4; ++i) client.Put32(48 + 16 * r + 4 * i, static_cast<uint32_t>(setUp.rects[1 + r][i]));
    client.Put32(0, kRequestSetDrawableRects);
    client.Execute();
  }
  if (setUp.elementCount == 0) return;
  ClientContext* context = glue.ClientOf(client.File())->context3d;
  Context3d* context3d_ = context != nullptr ? context->Context(context3d) : nullptr;
  if (context3d_ == nullptr || context3d_->current == nullptr) return;
  uint8_t list[4 + 16] = {static_cast<uint8_t>(setUp.elementCount)};
  memcpy(list + 4, setUp.elements, 4u * setUp.elementCount);
  RenderContext3d* current = context3d_->current;
  if (current->streamSetup.StoreElementList(list, 4 + 4u * setUp.elementCount))
    current->state.vertexSub.bytes[4] |= kVsubLayoutElements;
}

// ---- Client surfaces -----------------------------------------------------------------------------

// The X driver's primary surface of the 640 x 480 screen: a 32-bit surface
// block and a window block (ioctl 24), declared by ioctl 28.
struct DeclaredPrimary {
  uint64_t surface = 0;
  uint64_t window = 0;
};

DeclaredPrimary AllocatePrimary(kglue::Glue& glue, kglue::File* owner) {
  DeclaredPrimary primary;
  OrvBlockRequest block = {};
  block.kind = kBlockKindSurface;
  MmSurfAllocOpt options;
  options.requestedKind = 0;
  options.heapSelector = 1;
  options.desc.word1 = MmSurfDesc::MakeWord1(640, kLayoutPitchLinear, 0x30);
  options.desc.word2 = MmSurfDesc::MakeWord2(480, 1);
  options.physicalSize = options.desc.GetPhysicalMemSize(true);
  options.alignment = options.desc.GetRequiredAlignment(true);
  memcpy(block.surfaceOptions, &options, sizeof(options));
  if (glue.Ioctl(owner, ORV_IOCTL_ALLOC_BLOCK, reinterpret_cast<unsigned long>(&block)) != 0) return primary;
  OrvBlockRequest window = {};
  window.kind = kBlockKindAperture;
  MmHostApertureDesc d = {};
  d.options = kApertureExplicitSize;
  d.releasable = 1;
  d.explicitSize = 0x40000;
  d.desc.word1 = MmSurfDesc::MakeWord1(1, kLayoutPlain, 0x10);
  d.desc.size = 0x40000;
  memcpy(window.apertureOptions, &d, sizeof(d));
  if (glue.Ioctl(owner, ORV_IOCTL_ALLOC_BLOCK, reinterpret_cast<unsigned long>(&window)) != 0) return primary;
  primary.surface = block.handle;
  primary.window = window.handle;
  return primary;
}

void DeclarePrimary(kglue::Glue& glue, kglue::File* owner, const DeclaredPrimary& primary, PDEV* pdev) {
  OrvDeclarePrimaryRequest declare = {primary.surface, primary.window, reinterpret_cast<uintptr_t>(pdev)};
  (void)glue.Ioctl(owner, ORV_IOCTL_DECLARE_PRIMARY, reinterpret_cast<unsigned long>(&declare));
}

// Client format numbers of every class the catalogue knows (and two it does
// not).
constexpr uint32_t kClientFormats[] = {20, 21, 22, 23, 24, 25, 26, 28, 30, 31, 50, 51, 60, 61, 62, 64,
                                       65, 66, 67, 68, 69, 70, 72, 73, 75, 79, 80, 0,  99};

// A side: small, up to 300, or any word.
uint32_t Side(Reader& in) {
  const uint8_t b = in.Byte();
  if (b < 160) return b % 40;
  if (b < 240) return in.Half() % 301;
  return in.Word();
}

// The surfaces the client made, to be named again.
struct SurfaceHandles {
  uint64_t made[16] = {};
  uint32_t next = 0;
  void Add(uint64_t handle) { made[next++ % 16] = handle; }
  // One the client made, a small number, 0 or any 64-bit value.
  uint64_t Pick(Reader& in) const {
    const uint8_t b = in.Byte();
    if (b < 176) return made[b % 16];
    if (b < 240) return b % 24;
    return in.Quad();
  }
};

// A box {left, top, front, right, bottom, back}: small, or any words.
void Box(Reader& in, uint32_t* box) {
  const uint8_t b = in.Byte();
  for (uint32_t i = 0; i < 6; ++i) {
    if (b < 200) {
      box[i] = in.Byte() % 72u;
    } else {
      box[i] = in.Word();
    }
  }
}

// The device-wide masters against the clones the client holds: a master
// exists exactly while clones of its kind do, and counts them.
void CheckMasters(PDEV* pdev, ClientContext* context) {
  SharedSurfaces3d* shared = pdev != nullptr ? pdev->sharedSurfaces3d : nullptr;
  if (shared == nullptr) return;
  uint32_t clones[kSharedKinds] = {};
  SurfaceList3d* list = context != nullptr ? context->surfaces : nullptr;
  HandleTable<Surface3d>* table = context != nullptr && context->resources != nullptr ? context->resources->TableOf(1)
                                                                                      : nullptr;
  if (list != nullptr && table != nullptr) {
    for (uint32_t handle = 1; handle < table->Capacity(); ++handle) {
      ClientObject* object = list->Object(handle);
      if (object == nullptr || object->surface == nullptr) continue;
      const SharedKind3d kind = object->info.SharedKind();
      if (kind == kSharedNone) continue;
      ++clones[kind];
      if (object->surface->master != shared->masters[kind]) __builtin_trap();
    }
  }
  for (uint32_t kind = 0; kind < kSharedKinds; ++kind) {
    if (shared->counts[kind] != clones[kind]) __builtin_trap();
    if ((shared->masters[kind] != nullptr) != (clones[kind] != 0)) __builtin_trap();
  }
}

// No surface, level id or master is left: the list is empty and the
// device-wide table holds nothing.
void CheckNothingLeft(PDEV* pdev, ClientContext* context) {
  if (context != nullptr && context->surfaces != nullptr) {
    SurfaceList3d* list = context->surfaces;
    if (list->PlainCount() != 0 || list->SavedCount() != 0 || list->SavedRecordCount() != 0 ||
        list->LevelIdCount() != 0)
      __builtin_trap();
    HandleTable<Surface3d>* table = context->resources != nullptr ? context->resources->TableOf(1) : nullptr;
    if (table != nullptr && table->Count() != 0) __builtin_trap();
  }
  SharedSurfaces3d* shared = pdev != nullptr ? pdev->sharedSurfaces3d : nullptr;
  if (shared == nullptr) return;
  for (uint32_t kind = 0; kind < kSharedKinds; ++kind)
    if (shared->masters[kind] != nullptr || shared->counts[kind] != 0) __builtin_trap();
  HandleTable<Surface3d>* table = shared->table != nullptr ? shared->table->TableOf(1) : nullptr;
  if (table != nullptr && table->Count() != 0) __builtin_trap();
}

void Run(const uint8_t* data, size_t size) {
  orvmachine::Machine machine;
  orvmachine::MachineBoard& parts = machine.AddBoard(ktest::KernelBoard(orvsim::BoardConfig()));
  orvmachine::KernelModule& module = machine.LoadKernelModule(
      parts, {.file = "", .table = &orv_kstrn_driver, .bmFlags = ktest::kTestBmFlags, .minor = 0, .makeDevice = false});
  kglue::Glue& glue = module.glue;
  OrvDevice* device = module.device;
  if (glue.CreateDevice(device) == nullptr) return;
  kglue::File* owner = glue.Open(device);
  OrvEnableRequest enable = ktest::EnableRecord(0);
  if (glue.Ioctl(owner, ORV_IOCTL_ENABLE_DEVICE, reinterpret_cast<unsigned long>(&enable)) != 1) return;
  auto* pdev = reinterpret_cast<PDEV*>(static_cast<uintptr_t>(enable.kernelHandle));
  glue.IoctlWithValue(owner, ORV_IOCTL_START_DEVICE, reinterpret_cast<uintptr_t>(pdev));
  // A 640 x 480 screen: drawables' visible rectangles lie on it, and the
  // primary surface covers it.
  pdev->mode.virtualWidth = 640;
  pdev->mode.virtualHeight = 480;
  const DeclaredPrimary primary = AllocatePrimary(glue, owner);
  DeclarePrimary(glue, owner, primary, pdev);
  if (pdev->primarySurface == nullptr) return;
  bool running = true;
  alignas(8) static uint8_t userMemory[256];
  alignas(8) static uint8_t faultyMemory[64];
  // Records of the surface requests: a description at 0, a lock record at
  // 32, the boxes of a present at 64 and 88.
  alignas(8) static uint8_t records[128];
  {
    client3d::Client client(glue, device, 2000);
    if (client.CreateContext(reinterpret_cast<uintptr_t>(pdev)) == 0) {
      client3d::Buffer commands;
      const bool haveBuffer = client.CreateBuffer(8192, 4, &commands);
      client3d::Buffer locked;
      const bool haveLocked = client.CreateBuffer(kLockedBytes, kClientBufferPciLocked, &locked);
      if (haveLocked) {
        for (uint32_t at = 0; at + 8 <= kLockedBytes; at += 8) {
          const uint32_t pair[2] = {0, kPaddingHeader};
          memcpy(locked.mapped + at, pair, sizeof pair);
        }
      }
      const ClientBuffers buffers{&commands, haveLocked ? &locked : nullptr};
      glue.DeclareUserMemory(2000, userMemory, sizeof(userMemory));
      glue.DeclareUserMemory(2000, faultyMemory, sizeof(faultyMemory));
      glue.MarkFaulty(faultyMemory, sizeof(faultyMemory));
      memset(records, 0, sizeof(records));
      glue.DeclareUserMemory(2000, records, sizeof(records));
      Reader in(data, size);
      uint32_t stateContext = 0;
      SurfaceHandles handles;
      auto stopAndStart = [&](uint8_t how) {
        if ((how & 1) != 0 && running) {
          glue.IoctlWithValue(owner, ORV_IOCTL_STOP_DEVICE, 0);
          running = false;
        }
        if ((how & 2) != 0 && !running) {
          glue.IoctlWithValue(owner, ORV_IOCTL_START_DEVICE, reinterpret_cast<uintptr_t>(pdev));
          running = true;
        }
        if ((how & 4) != 0 && running) DeclarePrimary(glue, owner, primary, pdev);
      };
      ClientContext* const surfaceClient = glue.ClientOf(client.File())->context3d;
      for (int steps = 0; in.More() && steps < 256; ++steps) {
        switch (in.Byte() % 10) {
          case 0: {  // a word of the block
            const uint32_t at = (in.Byte() % 142) * 4;
            client.Put32(at, in.Word());
            break;
          }
          case 1:  // a request
            client.Execute();
            CheckNoKernelAddress(glue, client.File(), client.Block());
            break;
          case 2:  // bytes of the command buffer
            if (haveBuffer) {
              const uint32_t at = (in.Word() % 8192) & ~3u;
              const uint32_t word = in.Word();
              memcpy(commands.mapped + at, &word, 4);
            }
            break;
          case 3: {  // a pointer at user memory, at nothing or at the buffer
            const uint32_t at = 16 + (in.Byte() % 6) * 8;
            const uint8_t kind = in.Byte() % 4;
            const uint64_t pointer = kind == 0   ? reinterpret_cast<uintptr_t>(userMemory) + in.Byte() % 128
                                     : kind == 1 ? 0x1000 + in.Word()
                                     : kind == 2 ? reinterpret_cast<uintptr_t>(faultyMemory)
                                                 : reinterpret_cast<uintptr_t>(commands.mapped);
            client.Put64(at, pointer);
            break;
          }
          case 4: {  // a request during which the block changes
            const uint32_t at = (in.Byte() % 142) * 4;
            const uint32_t value = in.Word();
            client3d::Client* c = &client;
            glue.SetUserMemoryMutator([c, at, value] { c->Put32(at, value); });
            client.Execute();
            glue.SetUserMemoryMutator(nullptr);
            break;
          }
          case 6: {  // render-state tokens on a 3D context of its own, then a draw step
            DrawSetUp setUp;
            const client3d::TokenWriter tokens = StateTokens(in, buffers, &setUp);
            // Draws reach only a running device and a context that is not
            // lost (until request 3 every request but 3 is refused).
            if (!haveBuffer || !running || surfaceClient->lost) break;
            if (stateContext == 0) stateContext = client.CreateContext3d(1, commands);
            if (stateContext == 0 || !tokens.WriteTo(commands, 0)) break;
            ApplyDrawSetUp(client, glue, stateContext, setUp);
            client.RunTokens(stateContext, 0, static_cast<uint32_t>(tokens.Size()));
            CheckNoKernelAddress(glue, client.File(), client.Block());
            ClientContext* context = glue.ClientOf(client.File())->context3d;
            Context3d* context3d = context != nullptr ? context->Context(stateContext) : nullptr;
            if (context3d != nullptr) DrawStep(context3d->current, parts);
            break;
          }
          case 7: {  // a clear of the 3D context's targets after a draw step
            if (!haveBuffer || !running || surfaceClient->lost) break;
            if (stateContext == 0) stateContext = client.CreateContext3d(1, commands);
            ClientContext* context = glue.ClientOf(client.File())->context3d;
            Context3d* context3d = context != nullptr ? context->Context(stateContext) : nullptr;
            if (context3d == nullptr) break;
            DrawStep(context3d->current, parts);
            ClearStep(context3d->current, in, parts);
            break;
          }
          case 5:  // the device stops and starts again, its primary surface declared again, and request 3
            stopAndStart(7);
            client.Run(kRequestReattach);
            break;
          case 8: {  // a surface request
            const uint8_t what = in.Byte();
            client.Put64(16, 0);
            switch (what % 6) {
              case 0: {  // 12: a description of any kind
                ClientSurfaceDescription d;
                d.flags = in.Byte();
                const uint8_t kind = in.Byte();
                d.kind = kind < 240 ? kind % 7u : in.Word();
                const uint8_t format = in.Byte();
                d.format = format < 240 ? kClientFormats[format % (sizeof(kClientFormats) / 4)] : in.Word();
                d.width = Side(in);
                d.height = Side(in);
                d.depth = Side(in) % 17;
                const uint8_t levels = in.Byte();
                d.levels = levels < 240 ? levels % 14u : in.Word();
                memcpy(records, &d, sizeof(d));
                client.Put64(16, reinterpret_cast<uintptr_t>(records));
                client.Put64(24, 0);
                if (client.Run(kRequestCreateSurface) == kRequestOk) handles.Add(client.Get64(24));
                break;
              }
              case 1:  // 13
                client.Put64(16, handles.Pick(in));
                client.Run(kRequestDestroySurface);
                break;
              case 2: {  // 14: any level and face
                ClientSurfaceLock lock = {};
                const uint8_t level = in.Byte();
                const uint8_t face = in.Byte();
                lock.level = level < 240 ? level % 14u : in.Word();
                lock.face = face < 240 ? face % 8u : in.Word();
                memcpy(records + 32, &lock, sizeof(lock));
                client.Put64(16, handles.Pick(in));
                client.Put64(24, reinterpret_cast<uintptr_t>(records + 32));
                client.Run(kRequestLockSurface);
                break;
              }
              case 3:  // 15
                client.Put64(16, handles.Pick(in));
                client.Run(kRequestUnlockSurface);
                break;
              case 4: {  // 16: copies and fills of any boxes, level, face and mask
                if (stateContext == 0 && haveBuffer) stateContext = client.CreateContext3d(1, commands);
                uint32_t boxes[12];
                Box(in, boxes);
                Box(in, boxes + 6);
                memcpy(records + 64, boxes, sizeof(boxes));
                client.Put32(16, in.Byte() % 8u);
                client.Put32(24, stateContext);
                client.Put64(32, handles.Pick(in));
                client.Put64(40, handles.Pick(in));
                client.Put64(48, reinterpret_cast<uintptr_t>(records + 64));
                client.Put64(56, reinterpret_cast<uintptr_t>(records + 88));
                const uint8_t level = in.Byte();
                client.Put32(64, level < 240 ? level % 14u : in.Word());
                const uint8_t face = in.Byte();
                client.Put32(72, face < 240 ? face % 8u : in.Word());
                client.Put32(80, in.Byte() < 128 ? 0xFFFFFFFFu : in.Word());
                client.Put32(96, in.Word());
                client.Run(kRequestPresentSurface);
                break;
              }
              default:  // 28
                client.Put64(16, handles.Pick(in));
                client.Put32(24, in.Byte() % 4u);
                client.Run(kRequestFlipSurface);
                break;
            }
            CheckNoKernelAddress(glue, client.File(), client.Block());
            CheckMasters(pdev, surfaceClient);
            break;
          }
          case 9: {  // token 55, or request 3 after a stop, a start and a declaration (or not)
            const uint8_t what = in.Byte();
            if ((what & 0x80) != 0) {
              stopAndStart(what);
              client.Run(kRequestReattach);
            } else {
              const uint32_t entries = 1 + what % 6;
              std::vector<uint32_t> words;
              for (uint32_t e = 0; e < entries; ++e) {
                const uint64_t handle = handles.Pick(in);
                const uint32_t value = in.Word();
                words.insert(words.end(), {static_cast<uint32_t>(handle), static_cast<uint32_t>(handle >> 32), value,
                                           in.Word()});
              }
              client3d::TokenWriter tokens;
              tokens.Token(55, entries, words);
              if (!haveBuffer) break;
              if (stateContext == 0) stateContext = client.CreateContext3d(1, commands);
              if (stateContext == 0 || !tokens.WriteTo(commands, 0)) break;
              client.RunTokens(stateContext, 0, static_cast<uint32_t>(tokens.Size()));
            }
            CheckNoKernelAddress(glue, client.File(), client.Block());
            CheckMasters(pdev, surfaceClient);
            break;
          }
        }
      }
      // Everything the client made goes again: once the device runs with
      // its primary surface and the client is back, every surface it holds
      // is destroyed, and nothing of them may stay.
      stopAndStart(6);
      ClientContext* const c = surfaceClient;
      if (client.Run(kRequestReattach) == kRequestOk && c != nullptr && c->surfaces != nullptr) {
        HandleTable<Surface3d>* table = c->resources != nullptr ? c->resources->TableOf(1) : nullptr;
        for (uint32_t handle = 1; table != nullptr && handle < table->Capacity(); ++handle) {
          if (c->surfaces->Object(handle) == nullptr) continue;
          client.Put64(16, handle);
          if (client.Run(kRequestDestroySurface) != kRequestOk) __builtin_trap();
        }
        CheckNothingLeft(pdev, c);
      }
    }
  }
  // The client is gone: its clones with it, and every master.
  CheckNothingLeft(pdev, nullptr);
  if (!parts.dma->DecodeErrors().empty()) {
    fprintf(stderr, "decode error: %s\n", parts.dma->DecodeErrors()[0].c_str());
    __builtin_trap();
  }
  glue.ClearUserMemory();
  glue.Close(owner);
  glue.DestroyDevice(device);
  glue.Unload();
  if (!glue.LiveBlocks().empty() || glue.LiveRegions() != 0 || glue.LiveLockedPages() != 0 ||
      glue.LiveKernelMappings() != 0 || glue.LiveUserMappings() != 0) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Run(data, size);
  return 0;
}
