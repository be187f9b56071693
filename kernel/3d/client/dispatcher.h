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
struct RequestCopies {
  uint8_t record[32];
  bool haveRecord;
  uint32_t box[2][6];
  bool haveBox[2];
  const uint8_t* data;
  uint32_t dataSize;
};

// The code at offset 0 picks the handler; the result goes to offset 564.
// True when the result is 0.
bool DispatchClientRequest(ClientContext* context, ClientRequest* request, RequestCopies* copies);
