// The dispatcher of a 3D client's requests: runs the request in the
// context's snapshot of its request block and leaves the result there.
#pragma once

#include <stdint.h>

class ClientContext;
struct ClientRequest;

// The kernel's copies of the user records a request points at, made by the
// ioctl handler before the dispatch: the surface description (12) or lock
// record (14), in and out; the two boxes of a present (16); the initial data
// of a data buffer (20) or the bytes of a write (22), as many as the request
// names and the buffer can take.
// One element record of request 17 with its words, in kernel memory.
struct LayoutElementCopy {
  uint32_t type;
  uint32_t wordCount;
  const uint32_t* words;
};

// Bounds of request 17: element records, words per record, and bytes of
// the vertex data and of the program.
inline constexpr uint32_t kLayoutMaxElements = 4096;
inline constexpr uint32_t kLayoutMaxType = 12;
inline constexpr uint32_t kLayoutMaxWords = 65536;
inline constexpr uint32_t kLayoutMaxBytes = 4u << 20;

struct RequestCopies {
  uint8_t record[32];
  bool haveRecord;
  uint32_t box[2][6];
  bool haveBox[2];
  const uint8_t* data;
  uint32_t dataSize;
  // Request 17: the element records and the vertex data; refused when the
  // request named more than the bounds allow.
  LayoutElementCopy* elements;
  uint32_t elementCount;
  bool layoutRefused;
};

// The program's byte size for the element records (12 per mode packet, 4
// per record word and header), and how many ranges it holds.
uint64_t MeasureProgram(const LayoutElementCopy* elements, uint32_t count, uint32_t* ranges);

// The code at offset 0 picks the handler; the result goes to offset 564.
// True when the result is 0.
bool DispatchClientRequest(ClientContext* context, ClientRequest* request, RequestCopies* copies);
