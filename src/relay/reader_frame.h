// The serial frame format shared by every message between host and reader. Portable, pure.
//
//   55 AA | length (16-bit LE: payload bytes + 1) | command | data ... | XOR of all bytes before
#pragma once

#include <cstddef>
#include <cstdint>

namespace relay {

enum ReaderCommand : uint8_t {
  kQueryCat1Module = 0x01,
  kSetNetworkMode = 0x02,
  kQueryConnectStatus = 0x03,
  kRelayData = 0x04,
  kDisconnectPlatform = 0x05,
  kGetAuthorizationInfo = 0x07,
  kSetPlatformInfo = 0x08,
  kGetPlatformInfo = 0x09,
  kConnectRequest = 0x0A,  // from the reader; the host's NotifyConnectResult uses the same code
  kNotifyServerLost = 0x0B,
  kTestNetworkQuality = 0x0C,
  kDownloadRequest = 0x0D,  // download request (reader) / download status (host)
  kPackageData = 0x0E,      // package-data request (reader) / package data (host)
  kNotifyEnterDfuMode = 0x0F,
  kSetHeartBeatInterval = 0x10,
  kGetHeartBeatInterval = 0x11,
};

constexpr int kFrameHeadSize = 4;
constexpr int kFrameOverhead = 5;         // head + check sum
constexpr int kReceiveBufferSize = 2100;  // one received frame: head + body of at most 2096
constexpr int kMaxReceiveLength = kReceiveBufferSize - kFrameHeadSize;
constexpr int kMaxPayload = 0xFFFF - 1;  // the length field counts the check sum

// XOR of bytes[first, last).
uint8_t XorRange(const uint8_t* bytes, size_t first, size_t last);

// Builds the frame for an n-byte payload into out (n + 5 bytes). Returns n + 5, or 0 when n is
// larger than kMaxPayload.
size_t EncodeFrame(const uint8_t* payload, size_t n, uint8_t* out);

// The 16-bit little-endian length of a received head.
inline int FrameLength(const uint8_t* head) { return head[2] | (head[3] << 8); }

}  // namespace relay
