// The chip's primary DMA engine on the simulated board.
//
// The engine fetches 32-bit command words at bus addresses (local video
// memory, AGP or PCI-locked system memory), decodes them as command packets
// and writes their data words to the registers the packets name. It is
// started by writing the DMA end register; what it reached shows in the
// sync-tag register and the status registers. Its decoder is written from
// the packet format alone and shares nothing with the driver.
//
// The rules are written down in README.md ("The DMA engine").
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/board/board.h"

namespace orvsim {

class InterruptController;

// Registers of the engine.
inline constexpr uint32_t kDmaRegFlushA = 0x314;     // flush (all but 0x5D63)
inline constexpr uint32_t kDmaRegStatusA = 0x318;    // status; flush on 0x5D63
inline constexpr uint32_t kDmaRegStatusB = 0x31C;    // status on 0x5D63
inline constexpr uint32_t kDmaRegGuard = 0x384;      // dummy write of the guard
inline constexpr uint32_t kDmaRegSharedBase = 0x400; // bus address of the shared locked block
inline constexpr uint32_t kDmaRegStart = 0x404;      // fetch address
inline constexpr uint32_t kDmaRegEnd = 0x408;        // end address | bus type; starts
inline constexpr uint32_t kDmaRegTagReached = 0x41C;
inline constexpr uint32_t kDmaRegStatus = 0x450;
inline constexpr uint32_t kDmaRegEngineStatus = 0x8F0;
inline constexpr uint32_t kDmaRegWindow = 0x1000;    // index i writes 0x1000 + 4 * i
inline constexpr uint32_t kDmaRegBufferReport = 0x1090;   // index 0x24
inline constexpr uint32_t kDmaRegBufferCounter = 0x1094;  // index 0x25
inline constexpr uint32_t kDmaRegEvent = 0x1098;          // index 0x26
inline constexpr uint32_t kDmaRegJump = 0x109C;           // index 0x27
inline constexpr uint32_t kDmaRegExecStart = 0x10A0;      // index 0x28
inline constexpr uint32_t kDmaRegExecEnd = 0x10A4;        // index 0x29
inline constexpr uint32_t kDmaRegSyncTag = 0x12BC;        // index 0xAF
// Word 16 of the shared locked block takes every tag the engine reaches.
inline constexpr uint32_t kDmaSharedTagOffset = 16;

// Register values the engine shows.
inline constexpr uint32_t kDmaStatusFifoRoom = 0x400000;  // 0x450: set unless held clear
inline constexpr uint32_t kDmaStatusActive = 0x1;         // 0x450: a range is pending
inline constexpr uint32_t kEngineStatusIdle = 0x20000;    // 0x8F0
inline constexpr uint32_t kOlderStatusIdle = 0x50;        // 0x318 & 0x57 when idle
inline constexpr uint32_t kOlderStatusBusy = 0x07;
inline constexpr uint32_t kNewerStatusIdle = 0x1;         // bit 0 of 0x318 / 0x31C

// Packet indexes with a meaning of their own.
inline constexpr uint8_t kDmaIndexNoWrite = 0x20;  // data word consumed, nothing written
inline constexpr uint8_t kDmaIndexPad = 0x21;      // no data word: pads the header
inline constexpr uint8_t kDmaIndexRepeatHeader = 0x22;  // data: the header to repeat
inline constexpr uint8_t kDmaIndexRepeatCount = 0x23;   // data: how often; ends the header
inline constexpr uint8_t kDmaIndexCounterAddress = 0x24;
inline constexpr uint8_t kDmaIndexCounter = 0x25;
inline constexpr uint8_t kDmaIndexEvent = 0x26;    // pause and raise the engine interrupt
inline constexpr uint8_t kDmaIndexJump = 0x27;     // fetching goes on at the data word
inline constexpr uint8_t kDmaIndexExecStart = 0x28;
inline constexpr uint8_t kDmaIndexExecEnd = 0x29;  // runs [start, end) of the pair
inline constexpr uint8_t kDmaIndexSyncTag = 0xAF;

// Start bits (the low two of the 0x28 word) of an executed range holding
// count-prefixed packets: the kernel's secondary streams.
inline constexpr uint32_t kDmaExecCounted = 2;
// In a count-prefixed range, a word read where a count is due with any of
// these bits set is a command word; its bits 0-15 are the words of its body
// minus one.
inline constexpr uint32_t kDmaCommandTypeMask = 0xFF000000;
inline constexpr uint32_t kDmaCommandLengthMask = 0xFFFF;
// Bits 24 and 25: a primitive command, whose body size its kind gives.
inline constexpr uint32_t kDmaPrimitiveCommand = 0x03000000;
uint32_t CommandBodyWords(uint32_t word);

// Words one start may fetch, jumps and nested ranges included: a driver
// whose ranges never reach their end is caught here.
inline constexpr uint64_t kDmaMaxWordsPerStart = 1u << 24;

// Entries the trace and the write list each keep by default: past it the
// older half of the list is dropped, so that an engine running for hours
// holds bounded memory (a test reads far fewer).
inline constexpr size_t kDmaRecordBound = size_t{1} << 22;

// Bus types (low two bits of the end address).
inline constexpr unsigned kBusLocal = 0;
inline constexpr unsigned kBusAgp = 2;
inline constexpr unsigned kBusPciLocked = 3;

class DmaEngine {
 public:
  // Host bytes of system memory at a bus address, or null when nothing is
  // there; the length must fit.
  using SystemMemory = std::function<uint8_t*(uint32_t bus, uint32_t length)>;

  struct RegWrite {
    uint32_t reg;
    uint32_t value;
    bool operator==(const RegWrite&) const = default;
  };

  // What ran, in order: a started or executed range, a packet group (its
  // header), a nested range of an execute packet, a jump, a counter written
  // to memory (value, address; address 0 when it reached no memory), a sync
  // tag reached, an event pause (at the position after its packet), the
  // resume that ended it, and a command word of a count-prefixed range
  // (the word, its bus address).
  enum class TraceKind : uint8_t {
    kRange, kGroup, kNested, kJump, kCounter, kTag, kEvent, kResume, kCommand
  };
  struct TraceEntry {
    TraceKind kind;
    uint32_t a = 0;  // start, header, target, value, word or position
    uint32_t b = 0;  // end or address
    uint32_t c = 0;  // bus type
    bool operator==(const TraceEntry&) const = default;
  };

  // Installs the engine's register behaviour on the board; the engine must
  // outlive every access to those registers (its destructor removes them).
  explicit DmaEngine(Board& board);
  ~DmaEngine();
  DmaEngine(const DmaEngine&) = delete;
  DmaEngine& operator=(const DmaEngine&) = delete;

  // Back to the state the constructor gives: nothing pending, no pause, the
  // decoder and the repeat header cleared, and the record of what ran
  // (trace, writes, decode errors, faults, counts) empty. What the test set
  // up stays: registers, system memory, interrupts, sinks, decoders,
  // latency, held FIFO room, fault mode and word bound.
  void Reset();

  void SetSystemMemory(SystemMemory resolver) { system_ = std::move(resolver); }
  // Where an event packet raises the engine's interrupt (optional).
  void SetInterrupts(InterruptController* interrupts) { interrupts_ = interrupts; }
  // Host bytes of system memory at a bus address through the resolver, or
  // null (also without a resolver). Other engines of the chip use it too.
  uint8_t* SystemMemoryAt(uint32_t bus, uint32_t length) const {
    return system_ ? system_(bus, length) : nullptr;
  }

  // Called after each register write a packet makes (after it is stored),
  // so that engines whose registers start work see packet writes as they
  // see processor writes. One sink; an empty function removes it.
  using PacketWriteSink = std::function<void(uint32_t reg, uint32_t value)>;
  void SetPacketWriteSink(PacketWriteSink sink) { sink_ = std::move(sink); }
  // Further sinks, for engines beside the one above (the 3D engine beside
  // the 2D engine): each is called after it, in the order added. Answers
  // the id that removes it again.
  unsigned AddPacketWriteSink(PacketWriteSink sink);
  void RemovePacketWriteSink(unsigned id);

  // The decoder of command words of one type (bits 24-31) in count-prefixed
  // ranges: called with the word and its body once the body is fetched;
  // a non-empty answer is recorded as a decode error. One per type; an
  // empty function removes it.
  using CommandDecoder =
      std::function<std::string(uint32_t word, const std::vector<uint32_t>& body)>;
  void SetCommandDecoder(uint8_t type, CommandDecoder decoder) {
    decoders_[type] = std::move(decoder);
  }
  // While a decoder runs: the memory space (bus type) of the range its
  // command word was read from.
  unsigned CommandBus() const { return command_bus_; }

  // A started range stays pending for this many reads of the status
  // registers (0x318, 0x31C, 0x41C, 0x450, 0x8F0) before it runs; 0 runs it
  // at the start. A driver that rewrites a buffer before the engine is done
  // with it is caught by the commands the engine then decodes.
  void SetLatencyReads(unsigned reads) { latency_ = reads; }

  // Bit 22 of the status register 0x450 reads clear while held (as while
  // the display is off), so that a wait on it can be seen to give up.
  void HoldFifoRoomClear(bool hold) { fifo_room_held_ = hold; }

  // Runs [start, end) of the bus type behind whatever is pending: what the
  // kernel module does with a posted range.
  void Execute(uint32_t start, uint32_t end, unsigned busType);
  // Runs everything pending now (up to an event pause).
  void RunPending();
  // One step of latency, as a status read is: what the processor's time
  // passing gives the engine (the kernel glue steps it at every yield).
  void Step() { StatusRead(); }
  // Busy while a range is pending or the engine waits at an event.
  bool Busy() const { return !pending_.empty() || paused_; }
  bool Paused() const { return paused_; }

  const std::vector<TraceEntry>& Trace() const { return trace_; }
  void ClearTrace() { trace_.clear(); }

  // Register writes made by packets, in order.
  const std::vector<RegWrite>& Writes() const { return writes_; }
  void ClearWrites() { writes_.clear(); }

  // The trace and the write list are kept while recording is on (from
  // construction); a benchmark that runs the engine for millions of words
  // turns it off and nothing is appended to either. Each list holds at
  // most the record bound of entries (kDmaRecordBound, at least 2): when
  // it is full the older half goes, and RecordsDropped counts what went.
  void SetRecording(bool on) { recording_ = on; }
  bool Recording() const { return recording_; }
  void SetRecordBound(size_t entries) { record_bound_ = entries < 2 ? 2 : entries; }
  uint64_t RecordsDropped() const { return records_dropped_; }
  // Words fetched, and ranges run.
  uint64_t WordsFetched() const { return words_fetched_; }
  uint64_t RangesRun() const { return ranges_run_; }
  // The sync tag last reached (register 0x41C) and the last buffer counter
  // a packet sent (register 0x1094).
  uint32_t ReachedTag() const;
  uint32_t BufferCounter() const;
  // Malformed packets seen: a register index after a padding index.
  const std::vector<std::string>& DecodeErrors() const { return decode_errors_; }

  // What a real engine would stop on with a bus error: a fetch that reaches
  // no memory, a range that ends below its start, an execute packet inside
  // an executed range, an event packet inside one, a start that never
  // reaches its end. By default each ends the test; with faults not fatal
  // (a fuzz target feeding the engine arbitrary addresses) each is recorded
  // here and the rest of the started range is abandoned.
  void SetFaultsFatal(bool fatal) { faults_fatal_ = fatal; }
  const std::vector<std::string>& Faults() const { return faults_; }
  // Words one start may fetch (kDmaMaxWordsPerStart by default).
  void SetMaxWordsPerStart(uint64_t words) { max_words_ = words; }

 private:
  struct Range {
    uint32_t start;
    uint32_t end;
    unsigned bus;
    bool tagOnly;  // a direct sync-tag write queued behind the ranges
    uint32_t tag;
    bool resume;   // an end written while paused: goes on from the pause
  };
  // Where fetching stands.
  struct Cursor {
    uint32_t pos;
    unsigned bus;
    unsigned depth;  // 0 for a started range, 1 inside an execute packet
    bool counted;    // count-prefixed packets (start bits kDmaExecCounted)
  };
  // What a decoded index asks of the fetch loop.
  struct Decoder {
    uint32_t header = 0;
    unsigned left = 0;  // index bytes of the header not yet handled
    bool padded = false;
    bool counterPending = false;
    uint32_t counter = 0;
    uint32_t execStart = 0;
    uint32_t repeatLeft = 0;    // headers still to be taken from it
    // Count-prefixed ranges: words of the current count still due (0: the
    // next word is a count or a command word), and words of a command
    // word's body still to be skipped.
    uint64_t countLeft = 0;
    uint32_t bodyLeft = 0;
  };

  void Start(uint32_t endWord);
  void StatusRead();
  void Run(const Range& range);
  // Fetches from the cursor until it stands at end, an event pauses it, or
  // the word bound of a start is reached.
  void RunTo(Cursor& cursor, uint32_t end);
  void Word(uint32_t word, Cursor& cursor);
  void CountedWord(uint32_t word, Cursor& cursor);
  void ApplyIndex(uint8_t index, uint32_t data, Cursor& cursor);
  void ApplyCountedIndex(uint8_t index, uint32_t data, Cursor& cursor);
  void RunNested(uint32_t start, uint32_t end, unsigned bus, unsigned depth, bool counted);
  void StartHeader(uint32_t header);
  void SkipPadding();
  void ReachTag(uint32_t tag);
  void WriteSystemWord(uint32_t bus, uint32_t value, uint32_t* reached);
  // Null after a fault.
  const uint8_t* Fetch(uint32_t bus, unsigned busType, uint32_t length);
  void Fault(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Sink(uint32_t reg, uint32_t data);
  bool IsNewerChip() const;

  Board& board_;
  SystemMemory system_;
  PacketWriteSink sink_;
  std::vector<std::pair<unsigned, PacketWriteSink>> more_sinks_;
  unsigned next_sink_id_ = 1;
  InterruptController* interrupts_ = nullptr;
  unsigned latency_ = 0;
  bool fifo_room_held_ = false;
  unsigned reads_left_ = 0;
  uint32_t fetch_ = 0;
  std::deque<Range> pending_;

  // Decoder state; it carries over from one range to the next.
  Decoder decoder_;
  // The repeat header (index 0x22, register 0x1088): engine state, kept
  // across ranges, executed ones included, not state of one range's parse.
  uint32_t repeat_header_ = 0;
  // An event pause: where fetching stands until the end is written again.
  bool paused_ = false;
  Cursor pause_ = {};
  uint64_t start_words_ = 0;  // words fetched since the last start

  CommandDecoder decoders_[256];
  // The command word whose body is being fetched for its decoder.
  uint32_t command_ = 0;
  unsigned command_bus_ = 0;
  bool collecting_ = false;
  std::vector<uint32_t> body_;

  // Appends to the trace or the write list within the bound, while recording.
  template <class Entry>
  void Record(std::vector<Entry>& list, const Entry& entry) {
    if (!recording_) return;
    if (list.size() >= record_bound_) {
      const size_t older = list.size() - record_bound_ / 2;
      list.erase(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(older));
      records_dropped_ += older;
    }
    list.push_back(entry);
  }

  std::vector<RegWrite> writes_;
  std::vector<TraceEntry> trace_;
  bool recording_ = true;
  size_t record_bound_ = kDmaRecordBound;
  uint64_t records_dropped_ = 0;
  std::vector<std::string> decode_errors_;
  bool faults_fatal_ = true;
  bool abandon_ = false;
  std::vector<std::string> faults_;
  uint64_t max_words_ = kDmaMaxWordsPerStart;
  uint64_t words_fetched_ = 0;
  uint64_t ranges_run_ = 0;
};

}  // namespace orvsim
