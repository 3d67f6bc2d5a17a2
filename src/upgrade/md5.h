// MD5 message digest (RFC 1321) and the hexadecimal texts digests travel in. Portable, pure.
// Any thread; no shared state. The context lives on the caller's stack and owns nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Md5Context {
  uint32_t bitCount[2];  // message bits so far, modulo 2^64, low word first
  uint32_t state[4];     // chaining value A, B, C, D
  uint8_t input[64];     // the partial block collected so far
  uint8_t digest[16];    // filled in by md5Final
};

void md5Init(Md5Context* context);
// Adds length bytes; may be called any number of times.
void md5Update(Md5Context* context, const uint8_t* bytes, uint32_t length);
// Pads, hashes the length and writes context->digest.
void md5Final(Md5Context* context);
// The compression function over one block of sixteen little-endian 32-bit words.
void md5Transform(uint32_t state[4], const uint32_t block[16]);

// Writes count bytes as "%02x" each (lower case) into out, which the caller provides zeroed and
// at least 2 * count + 1 bytes long, so the text ends with a zero byte.
void toHex(char* out, const uint8_t* bytes, size_t count);

// The same digits in upper case, the form digests are compared in.
std::string toUpperHex(const uint8_t* bytes, size_t count);

// The digest of a whole file as 32 upper-case hexadecimal digits, and its size in *size.
// "" when the file cannot be opened or read whole (then *size is not written). Reads the file
// into memory at once; files of 2 GiB or more are refused ("").
std::string fileMd5(const std::string& path, uint32_t* size);
