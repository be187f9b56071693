// For a kernel fuzz target that keeps one machine, one loaded module and
// its device for the whole run: what a fresh start leaves, and the check
// that an input left the same behind.
//
// The books are the glue's (every live block by where it was taken and its
// size, regions, locked pages, kernel and user mappings, open files,
// misuses, the floating-point bracket), the board's registers, and the
// module's tables the target names (counts and pointers it reads out of the
// core). They are taken once the fixture is set up; after an input the
// target compares them again and aborts on the first difference, naming
// it, so that the fuzzer reports the input. Words of the register window
// that the engines advance on their own (sync tags, stream positions,
// counters) are named by the target and left out.
//
// Counts, registers and tables are compared after every input; the sites
// of the live blocks, whose list costs more, after the first inputs and
// then every kSiteSample-th.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <sanitizer/asan_interface.h>

#include "core/common_data.h"
#include "core/pdev.h"
#include "kernel/3d/surfaces/resource_table.h"
#include "kernel/vidmem/heaps.h"
#include "kernel/vidmem/surface_manager.h"
#include "kernel/vidmem/surface_mapper.h"
#include "platform/board/board.h"
#include "platform/board/chip_aperture.h"
#include "platform/board/chip_dma.h"
#include "platform/board/chip_flip.h"
#include "platform/board/chip_vertex.h"
#include "platform/kglue/glue.h"

namespace orvfuzz {

// A named value of the module's tables.
using Tables = std::vector<std::pair<const char*, uint64_t>>;

// A range of register bytes [offset, offset + length) left out of the
// comparison, whole words; or, with `bits`, only those bits of the one
// word at `offset`.
struct MovingRegisters {
  uint32_t offset;
  uint32_t length;
  uint32_t bits = 0xFFFFFFFF;
};

// Registers that follow the engines' work rather than the module's set-up:
// the flush command's last word, the primary stream's fetch and end
// addresses and the tag it reached, the window of registers the command
// packets write (engine state, nested ranges, counters, sync tags), which
// holds whatever the last input drew with, and the vertex engine's ports,
// which hold the last index and word written through them.
inline const std::vector<MovingRegisters> kMovingRegisters = {
    {orvsim::kDmaRegFlushA, 4},
    {orvsim::kDmaRegStart, 8},
    {orvsim::kDmaRegTagReached, 4},
    {orvsim::kDmaRegWindow, 0x400},
    {orvsim::kVertexRegAddress, 8},
    {orvsim::kVertexRegProgramIndex, 8},
};

// The displays' buffer start registers and the displayed-slot fields of
// their control words (the slot asked for, its sync bit, the slot shown),
// which hold what the last flip of an input showed; and the moving
// registers above with them.
inline std::vector<MovingRegisters> WithDisplayedBuffers() {
  std::vector<MovingRegisters> moving = kMovingRegisters;
  for (const orvsim::FlipDisplay& d : orvsim::kFlipDisplays) {
    moving.push_back({d.bufferStart, 16});
    moving.push_back({d.control, 4, 3u << d.slotShift | d.syncBit | 3u << orvsim::kFlipCurrentShift});
  }
  return moving;
}

// Every heap of the board's memory manager: its free bytes and its largest
// free run (a heap whose freed blocks did not merge again differs).
inline void AddHeaps(Tables& t, CommonData* common) {
  MmSurfaceManager* manager = common != nullptr ? common->memoryManager : nullptr;
  if (manager == nullptr) return;
  for (MmHeap* heap : manager->heaps) {
    t.push_back({"free bytes of a heap", heap->GetFreeBytes()});
    t.push_back({"largest free run of a heap", heap->GetLargestFree()});
  }
}

// The device's list of resource tables made again as the device object
// made it: an input's tables go with it, but their handles grow the list,
// which keeps its room. False when a table is still in the list.
inline bool RenewResourceTables(PDEV* pdev) {
  ResourceTableList* list = pdev->common->resourceTables[pdev->unit];
  if (list != nullptr && list->Count() != 0) return false;
  CleanupResourceTableList(pdev);
  return InitResourceTableList(pdev);
}

// The host-aperture windows in the slots they held at the start. The
// slots stay sorted by the windows' addresses: an input's window pushes the
// others along, and a slot it frees is not filled again, so the same
// windows can end in other slots than a fresh start gives them. A slot is
// cleared by its first word alone; the board's other words of a cleared
// slot, which nothing reads, go back to the zeros a fresh board has.
// The slots are written again with the board's processor windows held
// (`windows`, when the board has them): the same windows in other slots
// show the same frame buffer, and the words' passing states, which no one
// reads, would each map it anew.
class ApertureSlots {
 public:
  void Take(const MmSurfaceMapper* mapper) { memcpy(slots_, mapper->slots, sizeof slots_); }
  // False when the slots hold other windows than at the start.
  bool Restore(MmSurfaceMapper* mapper, orvsim::Board& board, orvsim::ApertureWindows* windows) const {
    MmHostAperture* const* now = mapper->slots;
    for (MmHostAperture* w : slots_) {
      if (w != nullptr && std::find(now, now + kMapperSlots, w) == now + kMapperSlots) return false;
    }
    for (uint32_t i = 0; i < kMapperSlots; ++i) {
      if (now[i] != nullptr && std::find(slots_, slots_ + kMapperSlots, now[i]) == slots_ + kMapperSlots)
        return false;
    }
    if (memcmp(slots_, now, sizeof slots_) != 0) {
      memcpy(mapper->slots, slots_, sizeof slots_);
      for (uint32_t i = 0; i < kMapperSlots; ++i)
        if (slots_[i] != nullptr) slots_[i]->slotIndex = static_cast<int32_t>(i);
      if (windows != nullptr) windows->Hold();
      mapper->ProgramAllSlots();
      if (windows != nullptr) windows->Release();
    }
    for (uint32_t i = 0; i < kMapperSlots && i < mapper->slotCount; ++i) {
      const uint32_t reg = 16 * (mapper->baseSlot + i);
      if (slots_[i] == nullptr && board.Peek(reg, 4) == 0)
        for (uint32_t word = 4; word < 16; word += 4) board.Poke(reg + word, 4, 0);
    }
    return true;
  }

 private:
  MmHostAperture* slots_[kMapperSlots] = {};
};

// The DMA engine: idle, nothing pending, no malformed packet seen and no
// fault.
inline void AddEngine(Tables& t, const orvsim::DmaEngine& dma) {
  t.push_back({"DMA engine busy", dma.Busy()});
  t.push_back({"malformed packets", dma.DecodeErrors().size()});
  t.push_back({"DMA faults", dma.Faults().size()});
}

// The engine's record of what ran goes between inputs, so that it does not
// grow over the run. The engine itself goes on where it stands, as the
// module's streams expect.
inline void SettleEngine(orvsim::DmaEngine& dma) {
  dma.ClearTrace();
  dma.ClearWrites();
}

class FreshBooks {
 public:
  static constexpr uint64_t kSiteSample = 64;

  FreshBooks(kglue::Glue& glue, orvsim::Board& board, std::function<void(Tables&)> tables,
             std::vector<MovingRegisters> moving, const char* target)
      : glue_(glue), board_(board), tables_(std::move(tables)), target_(target) {
    // The compared ranges of the register window: what the moving ones
    // leave, in whole words; a word of which only some bits move is
    // compared apart, without them.
    std::vector<uint32_t> kept(board_.RegisterWindowSize() / 4, 0xFFFFFFFF);
    for (const MovingRegisters& m : moving) {
      if (m.bits != 0xFFFFFFFF) {
        if (m.offset / 4 < kept.size()) kept[m.offset / 4] &= ~m.bits;
        continue;
      }
      for (uint32_t i = m.offset / 4; i < (m.offset + m.length + 3) / 4 && i < kept.size(); ++i) kept[i] = 0;
    }
    for (uint32_t i = 0; i < kept.size();) {
      if (kept[i] != 0xFFFFFFFF) {
        if (kept[i] != 0) masked_.push_back({4 * i, 4, kept[i]});
        ++i;
        continue;
      }
      uint32_t j = i;
      while (j < kept.size() && kept[j] == 0xFFFFFFFF) ++j;
      ranges_.push_back({4 * i, 4 * (j - i)});
      i = j;
    }
  }

  // The books of the fixture as it stands: the fresh start.
  void Take() {
    Read(fresh_, true);
    freshAddresses_.clear();
    for (const kglue::LiveBlock& block : glue_.LiveBlocks()) freshAddresses_.push_back(block.address);
    std::sort(freshAddresses_.begin(), freshAddresses_.end());
    taken_ = true;
  }

  // After an input: the same books as the fresh start, or the target ends.
  void Check() {
    if (!taken_) return;
    const bool sites = checks_ < kSiteSample || checks_ % kSiteSample == 0;
    ++checks_;
    Read(now_, sites);
    const std::string why = Difference(sites);
    if (!why.empty()) {
      fprintf(stderr, "%s: the input left the machine other than a fresh start: %s\n", target_, why.c_str());
      const std::string log = glue_.LogText();
      if (!log.empty()) fprintf(stderr, "%s: what the module logged in the input:\n%s", target_, log.c_str());
      DescribeNewBlock();
      abort();
    }
  }

 private:
  using Site = std::tuple<std::string, int, size_t>;
  struct Books {
    kglue::Glue::BlockTotals blocks;
    std::vector<Site> sites;
    size_t regions = 0, pages = 0, kernelMappings = 0, userMappings = 0, files = 0;
    uint64_t arenaBytes = 0;
    int fpu = 0;
    std::vector<uint8_t> registers;
    Tables tables;
  };

  static std::vector<Site> Sites(const kglue::Glue& glue) {
    std::vector<Site> sites;
    for (const kglue::LiveBlock& block : glue.LiveBlocks()) sites.emplace_back(block.file, block.line, block.size);
    std::sort(sites.begin(), sites.end());
    return sites;
  }

  void Read(Books& b, bool sites) const {
    b.blocks = glue_.LiveBlockTotals();
    if (sites) b.sites = Sites(glue_);
    b.regions = glue_.LiveRegions();
    b.pages = glue_.LiveLockedPages();
    b.kernelMappings = glue_.LiveKernelMappings();
    b.userMappings = glue_.LiveUserMappings();
    b.files = glue_.OpenFileCount();
    b.arenaBytes = glue_.ArenaBytesInUse();
    b.fpu = glue_.FpuDepth();
    b.registers.resize(board_.RegisterWindowSize());
    const uint8_t* regs = board_.Registers();
    for (const MovingRegisters& r : ranges_) memcpy(&b.registers[r.offset], regs + r.offset, r.length);
    for (const MovingRegisters& r : masked_) {
      uint32_t word;
      memcpy(&word, regs + r.offset, 4);
      word &= r.bits;
      memcpy(&b.registers[r.offset], &word, 4);
    }
    b.tables.clear();
    if (tables_) tables_(b.tables);
  }

  std::string Difference(bool sites) const {
    const Books& now = now_;
    if (!glue_.Misuses().empty()) return "the glue was misused: " + glue_.Misuses().front();
    std::string counts;
    auto compare = [&](const char* what, uint64_t fresh, uint64_t then) {
      if (fresh == then) return;
      counts += (counts.empty() ? "" : "; ") + std::string(what) + " " + std::to_string(fresh) + " at the start, " +
                std::to_string(then) + " now";
    };
    compare("live blocks", fresh_.blocks.count, now.blocks.count);
    compare("bytes of live blocks", fresh_.blocks.bytes, now.blocks.bytes);
    compare("regions", fresh_.regions, now.regions);
    compare("locked pages", fresh_.pages, now.pages);
    compare("arena bytes", fresh_.arenaBytes, now.arenaBytes);
    compare("kernel mappings", fresh_.kernelMappings, now.kernelMappings);
    compare("user mappings", fresh_.userMappings, now.userMappings);
    compare("open files", fresh_.files, now.files);
    // A block the module frees while user space still maps it (a client
    // destroying a buffer it maps) stays held until the last unmap, and
    // until then counts among the regions, pages and user mappings above.
    // The glue's count of such frees only grows: it records that one
    // happened, not that anything is left, and a hostile client may do it.
    compare("floating-point bracket depth", static_cast<uint64_t>(fresh_.fpu), static_cast<uint64_t>(now.fpu));
    if (sites && counts.empty() && now.sites != fresh_.sites) counts = "live blocks taken elsewhere";
    if (!counts.empty()) return counts + SiteDifference();
    for (const std::vector<MovingRegisters>* compared : {&ranges_, &masked_}) {
      for (const MovingRegisters& r : *compared) {
      if (memcmp(&now.registers[r.offset], &fresh_.registers[r.offset], r.length) == 0) continue;
      std::string registers;
      int differing = 0;
      for (uint32_t word = r.offset; word < r.offset + r.length && differing < 8; word += 4) {
        uint32_t fresh, then;
        memcpy(&fresh, &fresh_.registers[word], 4);
        memcpy(&then, &now.registers[word], 4);
        if (fresh == then) continue;
        char text[80];
        snprintf(text, sizeof text, "%sregister 0x%04X: 0x%08X at the start, 0x%08X now", differing++ > 0 ? "; " : "",
                 word, fresh, then);
        registers += text;
      }
      return registers;
      }
    }
    if (now.tables.size() != fresh_.tables.size()) return "the tables were read differently";
    for (size_t i = 0; i < now.tables.size(); ++i) {
      compare(now.tables[i].first, fresh_.tables[i].second, now.tables[i].second);
      if (!counts.empty()) return counts;
    }
    return {};
  }

  // The first block that is new or gone, by where it was taken.
  std::string SiteDifference() const {
    const std::vector<Site> then = Sites(glue_);
    std::vector<Site> extra, gone;
    std::set_difference(then.begin(), then.end(), fresh_.sites.begin(), fresh_.sites.end(), std::back_inserter(extra));
    std::set_difference(fresh_.sites.begin(), fresh_.sites.end(), then.begin(), then.end(), std::back_inserter(gone));
    auto name = [](const Site& s) {
      return std::get<0>(s) + ":" + std::to_string(std::get<1>(s)) + " (" + std::to_string(std::get<2>(s)) + " bytes)";
    };
    if (!extra.empty()) return "; left: " + name(extra.front());
    if (!gone.empty()) return "; gone: " + name(gone.front());
    return {};
  }

  // Where the first block that was not there at the start was allocated,
  // as the address sanitizer recorded it.
  void DescribeNewBlock() const {
    std::vector<kglue::LiveBlock> added;
    for (const kglue::LiveBlock& block : glue_.LiveBlocks()) {
      if (!std::binary_search(freshAddresses_.begin(), freshAddresses_.end(), block.address)) added.push_back(block);
    }
    if (added.empty()) return;
    fprintf(stderr, "%s: %zu blocks that were not there at the start, of", target_, added.size());
    for (const kglue::LiveBlock& block : added) fprintf(stderr, " %zu", block.size);
    fprintf(stderr, " bytes; the first:\n");
#if defined(__SANITIZE_ADDRESS__) || defined(__has_feature)
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
    __asan_describe_address(const_cast<void*>(added.front().address));
#endif
#endif
  }

  kglue::Glue& glue_;
  orvsim::Board& board_;
  std::function<void(Tables&)> tables_;
  const char* target_;
  std::vector<MovingRegisters> ranges_;  // compared whole
  std::vector<MovingRegisters> masked_;  // compared in the bits kept
  Books fresh_;
  Books now_;
  std::vector<const void*> freshAddresses_;
  bool taken_ = false;
  uint64_t checks_ = 0;
};

}  // namespace orvfuzz
