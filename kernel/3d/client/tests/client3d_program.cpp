// The programs of the 3D client requests' fuzz target as a client process
// runs them (client3d_program.h).
#include "kernel/3d/client/tests/client3d_program.h"

#include <string.h>

#include <vector>

namespace client3dfuzz {

using orvfuzz::Reader;

namespace {

// Request codes and the answer of a request done.
constexpr uint32_t kRequestReattach = 3;
constexpr uint32_t kRequestCreateSurface = 12;
constexpr uint32_t kRequestDestroySurface = 13;
constexpr uint32_t kRequestLockSurface = 14;
constexpr uint32_t kRequestUnlockSurface = 15;
constexpr uint32_t kRequestPresentSurface = 16;
constexpr uint32_t kRequestFlipSurface = 28;
constexpr uint32_t kRequestSetDrawableRects = 29;
constexpr int32_t kRequestOk = 0;

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
      return kLightRecordBytes + b / 4 % 8 - 4;
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

}  // namespace

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

void SkipClearOperands(Reader& in) {
  // Colour and depth formats; two sides and a byte each; which; the
  // colour-depth mode; viewport and clip; flags, colour, depth, stencil;
  // the rectangles.
  in.Byte();
  in.Byte();
  for (int i = 0; i < 2; ++i) {
    in.Word();
    in.Word();
    in.Byte();
  }
  in.Byte();
  in.Byte();
  for (int i = 0; i < 8; ++i) in.Word();
  in.Byte();
  in.Word();
  in.Word();
  in.Word();
  const uint32_t count = in.Byte() % 5;
  for (uint32_t i = 0; i < 4 * count; ++i) in.Word();
}

uint32_t RunProgram(const uint8_t* data, size_t size, kglue::Glue& glue, client3d::Client& client, uint32_t process,
                    ProgramMemory* memory, Host& host) {
  client3d::Buffer commands;
  const bool haveBuffer = client.CreateBuffer(kCommandBytes, kCommandBufferKind, &commands);
  client3d::Buffer locked;
  const bool haveLocked = client.CreateBuffer(kLockedBytes, kLockedBufferKind, &locked);
  if (haveLocked) {
    for (uint32_t at = 0; at + 8 <= kLockedBytes; at += 8) {
      const uint32_t pair[2] = {0, kPaddingHeader};
      memcpy(locked.mapped + at, pair, sizeof pair);
    }
  }
  const ClientBuffers buffers{&commands, haveLocked ? &locked : nullptr};
  uint8_t* const userMemory = memory->user;
  uint8_t* const faultyMemory = memory->faulty;
  uint8_t* const records = memory->records;
  glue.DeclareUserMemory(process, userMemory, sizeof(memory->user));
  glue.DeclareUserMemory(process, faultyMemory, sizeof(memory->faulty));
  glue.MarkFaulty(faultyMemory, sizeof(memory->faulty));
  memset(records, 0, sizeof(memory->records));
  glue.DeclareUserMemory(process, records, sizeof(memory->records));
  Reader in(data, size);
  uint32_t stateContext = 0;
  SurfaceHandles handles;
  for (int steps = 0; in.More() && steps < 256; ++steps) {
    switch (in.Byte() % 10) {
      case 0: {  // a word of the block
        const uint32_t at = (in.Byte() % 142) * 4;
        client.Put32(at, in.Word());
        break;
      }
      case 1:  // a request
        client.Execute();
        host.AfterRequest();
        break;
      case 2:  // bytes of the command buffer
        if (haveBuffer) {
          const uint32_t at = (in.Word() % kCommandBytes) & ~3u;
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
        if (!haveBuffer || !host.Running() || host.Lost()) break;
        if (stateContext == 0) stateContext = client.CreateContext3d(1, commands);
        if (stateContext == 0 || !tokens.WriteTo(commands, 0)) break;
        if (setUp.rectCount != 0) {
          client.Put64(16, 1);
          for (uint32_t i = 0; i < 4; ++i) client.Put32(24 + 4 * i, static_cast<uint32_t>(setUp.rects[0][i]));
          client.Put32(40, setUp.rectCount);
          for (uint32_t r = 0; r < setUp.rectCount; ++r)
            for (uint32_t i = 0; i < 4; ++i)
              client.Put32(48 + 16 * r + 4 * i, static_cast<uint32_t>(setUp.rects[1 + r][i]));
          client.Put32(0, kRequestSetDrawableRects);
          client.Execute();
        }
        if (setUp.elementCount != 0) host.StoreElements(stateContext, setUp);
        client.RunTokens(stateContext, 0, static_cast<uint32_t>(tokens.Size()));
        host.AfterRequest();
        host.DrawStep(stateContext);
        break;
      }
      case 7: {  // a clear of the 3D context's targets after a draw step
        if (!haveBuffer || !host.Running() || host.Lost()) break;
        if (stateContext == 0) stateContext = client.CreateContext3d(1, commands);
        if (stateContext == 0) break;
        host.ClearStep(stateContext, in);
        break;
      }
      case 5:  // the device stops and starts again, its primary surface declared again, and request 3
        host.StopAndStart(7);
        client.Run(kRequestReattach);
        break;
      case 8: {  // a surface request
        const uint8_t what = in.Byte();
        client.Put64(16, 0);
        switch (what % 6) {
          case 0: {  // 12: a description of any kind
            Description d;
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
            LockRecord lock = {};
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
        host.AfterSurfaceRequest();
        break;
      }
      case 9: {  // token 55, or request 3 after a stop, a start and a declaration (or not)
        const uint8_t what = in.Byte();
        if ((what & 0x80) != 0) {
          host.StopAndStart(what);
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
        host.AfterSurfaceRequest();
        break;
      }
    }
  }
  return stateContext;
}

}  // namespace client3dfuzz
