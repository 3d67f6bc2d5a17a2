// Portable: frame building and check sums.
#include "relay/reader_frame.h"

#include <cstring>

namespace relay {

uint8_t XorRange(const uint8_t* bytes, size_t first, size_t last) {
  uint8_t x = 0;
  for (size_t i = first; i < last; ++i) x ^= bytes[i];
  return x;
}

size_t EncodeFrame(const uint8_t* payload, size_t n, uint8_t* out) {
  if (n > static_cast<size_t>(kMaxPayload)) return 0;
  out[0] = 0x55;
  out[1] = 0xAA;
  out[2] = static_cast<uint8_t>((n + 1) & 0xFF);
  out[3] = static_cast<uint8_t>((n + 1) >> 8);
  if (n) std::memcpy(out + 4, payload, n);
  out[n + 4] = XorRange(out, 0, n + 4);
  return n + 5;
}

}  // namespace relay
