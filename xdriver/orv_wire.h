// Fields of the driver's own X protocol requests and replies: reading and
// swapping request fields in place, and writing reply fields in the
// client's byte order. Callers check the request's length before touching
// a field beyond its header.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "platform/xserver/dix.h"

// Bytes of every reply header, and of each head rectangle in a reply.
inline constexpr size_t kOrvReplyBytes = 32;
inline constexpr size_t kOrvRectBytes = 8;

inline uint8_t* OrvRequestBytes(ClientPtr client) {
  return static_cast<uint8_t*>(client->requestBuffer);
}
inline uint8_t OrvMinorOpcode(ClientPtr client) { return OrvRequestBytes(client)[1]; }

inline uint16_t OrvGet16(const uint8_t* at) {
  uint16_t v;
  memcpy(&v, at, 2);
  return v;
}
inline uint32_t OrvGet32(const uint8_t* at) {
  uint32_t v;
  memcpy(&v, at, 4);
  return v;
}
inline void OrvSwap16(uint8_t* at) {
  const uint8_t t = at[0];
  at[0] = at[1];
  at[1] = t;
}
inline void OrvSwap32(uint8_t* at) {
  uint32_t v = OrvGet32(at);
  v = __builtin_bswap32(v);
  memcpy(at, &v, 4);
}

// Reply fields, swapped for a client of the other byte order.
inline void OrvPut16(uint8_t* at, uint16_t v, bool swapped) {
  if (swapped) v = static_cast<uint16_t>((v >> 8) | (v << 8));
  memcpy(at, &v, 2);
}
inline void OrvPut32(uint8_t* at, uint32_t v, bool swapped) {
  if (swapped) v = __builtin_bswap32(v);
  memcpy(at, &v, 4);
}

// A reply header: reply code, sequence number and reply length.
inline void OrvReplyHeader(uint8_t* reply, ClientPtr client, uint32_t length) {
  memset(reply, 0, kOrvReplyBytes);
  reply[0] = X_Reply;
  OrvPut16(reply + 2, client->sequence, client->swapped);
  OrvPut32(reply + 4, length, client->swapped);
}

// One head rectangle of a reply: x, y (cut to 16 bits), width, height.
inline void OrvPutRect(uint8_t* at, const int32_t rect[4], bool swapped) {
  OrvPut16(at, static_cast<uint16_t>(rect[0]), swapped);
  OrvPut16(at + 2, static_cast<uint16_t>(rect[1]), swapped);
  OrvPut16(at + 4, static_cast<uint16_t>(rect[2]), swapped);
  OrvPut16(at + 6, static_cast<uint16_t>(rect[3]), swapped);
}
