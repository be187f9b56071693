#include "platform/board/ddc_devices.h"

namespace orvsim {

// ---- Monitor -----------------------------------------------------------------------------

DdcMonitor::DdcMonitor(std::vector<uint8_t> edid, const Clock& clock, uint8_t address)
    : EdidEeprom(std::move(edid), address), clock_(clock) {}

bool DdcMonitor::OnAddressed(bool read) {
  if (answers_while_ && !answers_while_()) return false;
  return EdidEeprom::OnAddressed(read);
}

void DdcMonitor::CorruptBlock1Checksum() {
  if (Contents().size() > 255) Contents()[255] ^= 0x55;
}

void DdcMonitor::OnLines(bool scl, bool sda) {
  constexpr unsigned kAddressBits = 8;
  if (scl && scl_ && sda_ && !sda) rises_ = 0;  // a start condition
  if (scl && !scl_) {
    const uint64_t now = clock_.Now();
    ++rises_;
    if (rises_ == 1) first_rise_ns_ = now;
    if (rises_ == kAddressBits) address_period_ns_ = (now - first_rise_ns_) / (kAddressBits - 1);
  }
  scl_ = scl;
  sda_ = sda;
  EdidEeprom::OnLines(scl, sda);
}

uint8_t DdcMonitor::OnReadByte() {
  const unsigned offset = Pointer();
  const uint8_t byte = EdidEeprom::OnReadByte();
  if (offset >= slow_from_ && address_period_ns_ < min_clock_period_ns_) {
    ++fast_bytes_;
    return 0xFF;
  }
  ++good_bytes_;
  return byte;
}

// ---- Tied lines ----------------------------------------------------------------------------

void TiedLinesAdaptor::OnLines(bool, bool sda) { PullSclLow(!sda); }

// ---- Desktop expander ----------------------------------------------------------------------

bool DesktopExpander::OnAddressed(bool read) {
  if (read) {
    ++reads_;
    reply_ = replies_.empty() ? Message{} : replies_.front();
    if (replies_.size() > 1) replies_.pop_front();
    reply_byte_ = 0;
  } else {
    written_.clear();
  }
  return true;
}

bool DesktopExpander::OnWriteByte(uint8_t byte) {
  written_.push_back(byte);
  return true;
}

uint8_t DesktopExpander::OnReadByte() { return reply_[reply_byte_++ % reply_.size()]; }

void DesktopExpander::OnTransferEnd() {
  // Index 0xA0 and four data bytes make a command.
  if (written_.size() == 5 && written_[0] == kCommandIndex)
    commands_.push_back({written_[1], written_[2], written_[3], written_[4]});
  written_.clear();
}

}  // namespace orvsim
