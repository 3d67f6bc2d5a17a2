// The DFU interface of a configuration descriptor set: alternate settings with their string
// indexes and the DFU functional descriptor. Portable; bytes in, values out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct DfuAlternate {
  uint8_t alternate;
  uint8_t nameIndex;  // iInterface
};

struct DfuConfigInfo {
  uint8_t interfaceNumber = 0;
  uint8_t interfaceProtocol = 0;
  std::vector<DfuAlternate> alternates;
  uint8_t functional[9] = {};
  bool hasFunctional = false;
};

// Finds the first interface of class 0xFE subclass 1. False when there is none or a descriptor
// runs past the end.
bool ParseDfuConfig(const uint8_t* bytes, size_t n, DfuConfigInfo* out);

// wTransferSize, bmAttributes and wDetachTimeOut of a functional descriptor.
inline uint16_t DfuTransferSize(const uint8_t f[9]) { return f[5] | (f[6] << 8); }
inline uint8_t DfuAttributes(const uint8_t f[9]) { return f[2]; }
inline uint16_t DfuDetachTimeout(const uint8_t f[9]) { return f[3] | (f[4] << 8); }
constexpr uint8_t kDfuCanDnload = 0x01;
constexpr uint8_t kDfuCanUpload = 0x02;
constexpr uint8_t kDfuManifestationTolerant = 0x04;
constexpr uint8_t kDfuWillDetach = 0x08;
