// The server's allocator, with failure injection and a count of live blocks.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <unordered_set>

#include "platform/xserver/state.h"
#include "platform/xserver/xservices.h"

namespace xstub::detail {
namespace {

struct Allocator {
  uint64_t attempts = 0;
  uint64_t fail_at = 0;  // attempt number that fails; 0 = none
  uint64_t failed = 0;
  std::unordered_set<void*> live;
};

Allocator& A() {
  static Allocator* allocator = new Allocator;  // outlives every static user
  return *allocator;
}

// Counts one attempt; false when this one is to fail.
bool Attempt() {
  Allocator& a = A();
  ++a.attempts;
  if (a.fail_at != 0 && a.attempts == a.fail_at) {
    a.fail_at = 0;
    ++a.failed;
    return false;
  }
  return true;
}

[[noreturn]] void Foreign(const char* service, void* address) {
  fprintf(stderr,
          "xserver stand-in: %s(%p): not a live block of xalloc (freed twice, or "
          "never allocated here)\n",
          service, address);
  abort();
}

}  // namespace

void ResetAllocator() {
  Allocator& a = A();
  a.attempts = 0;
  a.fail_at = 0;
  a.failed = 0;
}

}  // namespace xstub::detail

using xstub::detail::A;
using xstub::detail::Attempt;
using xstub::detail::Foreign;

extern "C" {

void* xalloc(size_t size) {
  if (!Attempt()) return nullptr;
  void* p = malloc(size == 0 ? 1 : size);
  if (p != nullptr) A().live.insert(p);
  return p;
}

void* xcalloc(size_t count, size_t size) {
  if (!Attempt()) return nullptr;
  if (size != 0 && count > SIZE_MAX / size) return nullptr;
  size_t total = count * size;
  void* p = calloc(total == 0 ? 1 : total, 1);
  if (p != nullptr) A().live.insert(p);
  return p;
}

void* xrealloc(void* address, size_t size) {
  if (address != nullptr && A().live.count(address) == 0) Foreign("xrealloc", address);
  if (address != nullptr && size == 0) {
    A().live.erase(address);
    free(address);
    return nullptr;
  }
  // A failed reallocation leaves the block as it was.
  if (!Attempt()) return nullptr;
  void* p = realloc(address, size == 0 ? 1 : size);
  if (p == nullptr) return nullptr;
  if (address != nullptr) A().live.erase(address);
  A().live.insert(p);
  return p;
}

void xfree(void* address) {
  if (address == nullptr) return;
  if (A().live.erase(address) == 0) Foreign("xfree", address);
  free(address);
}

}  // extern "C"

namespace xstub {

void Sandbox::FailAllocation(uint64_t nth) {
  detail::Allocator& a = detail::A();
  a.fail_at = nth == 0 ? 0 : a.attempts + nth;
}
uint64_t Sandbox::AllocationCount() const { return detail::A().attempts; }
uint64_t Sandbox::FailedAllocations() const { return detail::A().failed; }
size_t Sandbox::LiveAllocations() const { return detail::A().live.size(); }

}  // namespace xstub
