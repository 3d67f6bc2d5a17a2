// MD5 (RFC 1321) and its hexadecimal forms. Portable: standard C++ and platform/paths.h only.
#include "upgrade/md5.h"

#include <cctype>
#include <cstring>
#include <memory>

#include "platform/paths.h"

namespace {

inline uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void StoreLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// The four auxiliary functions in forms with fewer dependent operations; each equals the RFC's
// boolean expression bit for bit.
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return (x & z) + (y & ~z); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

#define MD5_STEP(f, a, b, c, d, x, s, t) \
  a += f(b, c, d) + (x) + (t);           \
  a = RotateLeft(a, s) + b

void TransformBytes(uint32_t state[4], const uint8_t* block) {
  uint32_t words[16];
  for (int i = 0; i < 16; ++i) words[i] = LoadLe32(block + 4 * i);
  md5Transform(state, words);
}

}  // namespace

void md5Init(Md5Context* context) {
  context->bitCount[0] = 0;
  context->bitCount[1] = 0;
  context->state[0] = 0x67452301;
  context->state[1] = 0xEFCDAB89;
  context->state[2] = 0x98BADCFE;
  context->state[3] = 0x10325476;
}

void md5Transform(uint32_t state[4], const uint32_t x[16]) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

  MD5_STEP(F, a, b, c, d, x[0], 7, 0xd76aa478);
  MD5_STEP(F, d, a, b, c, x[1], 12, 0xe8c7b756);
  MD5_STEP(F, c, d, a, b, x[2], 17, 0x242070db);
  MD5_STEP(F, b, c, d, a, x[3], 22, 0xc1bdceee);
  MD5_STEP(F, a, b, c, d, x[4], 7, 0xf57c0faf);
  MD5_STEP(F, d, a, b, c, x[5], 12, 0x4787c62a);
  MD5_STEP(F, c, d, a, b, x[6], 17, 0xa8304613);
  MD5_STEP(F, b, c, d, a, x[7], 22, 0xfd469501);
  MD5_STEP(F, a, b, c, d, x[8], 7, 0x698098d8);
  MD5_STEP(F, d, a, b, c, x[9], 12, 0x8b44f7af);
  MD5_STEP(F, c, d, a, b, x[10], 17, 0xffff5bb1);
  MD5_STEP(F, b, c, d, a, x[11], 22, 0x895cd7be);
  MD5_STEP(F, a, b, c, d, x[12], 7, 0x6b901122);
  MD5_STEP(F, d, a, b, c, x[13], 12, 0xfd987193);
  MD5_STEP(F, c, d, a, b, x[14], 17, 0xa679438e);
  MD5_STEP(F, b, c, d, a, x[15], 22, 0x49b40821);

  MD5_STEP(G, a, b, c, d, x[1], 5, 0xf61e2562);
  MD5_STEP(G, d, a, b, c, x[6], 9, 0xc040b340);
  MD5_STEP(G, c, d, a, b, x[11], 14, 0x265e5a51);
  MD5_STEP(G, b, c, d, a, x[0], 20, 0xe9b6c7aa);
  MD5_STEP(G, a, b, c, d, x[5], 5, 0xd62f105d);
  MD5_STEP(G, d, a, b, c, x[10], 9, 0x02441453);
  MD5_STEP(G, c, d, a, b, x[15], 14, 0xd8a1e681);
  MD5_STEP(G, b, c, d, a, x[4], 20, 0xe7d3fbc8);
  MD5_STEP(G, a, b, c, d, x[9], 5, 0x21e1cde6);
  MD5_STEP(G, d, a, b, c, x[14], 9, 0xc33707d6);
  MD5_STEP(G, c, d, a, b, x[3], 14, 0xf4d50d87);
  MD5_STEP(G, b, c, d, a, x[8], 20, 0x455a14ed);
  MD5_STEP(G, a, b, c, d, x[13], 5, 0xa9e3e905);
  MD5_STEP(G, d, a, b, c, x[2], 9, 0xfcefa3f8);
  MD5_STEP(G, c, d, a, b, x[7], 14, 0x676f02d9);
  MD5_STEP(G, b, c, d, a, x[12], 20, 0x8d2a4c8a);

  MD5_STEP(H, a, b, c, d, x[5], 4, 0xfffa3942);
  MD5_STEP(H, d, a, b, c, x[8], 11, 0x8771f681);
  MD5_STEP(H, c, d, a, b, x[11], 16, 0x6d9d6122);
  MD5_STEP(H, b, c, d, a, x[14], 23, 0xfde5380c);
  MD5_STEP(H, a, b, c, d, x[1], 4, 0xa4beea44);
  MD5_STEP(H, d, a, b, c, x[4], 11, 0x4bdecfa9);
  MD5_STEP(H, c, d, a, b, x[7], 16, 0xf6bb4b60);
  MD5_STEP(H, b, c, d, a, x[10], 23, 0xbebfbc70);
  MD5_STEP(H, a, b, c, d, x[13], 4, 0x289b7ec6);
  MD5_STEP(H, d, a, b, c, x[0], 11, 0xeaa127fa);
  MD5_STEP(H, c, d, a, b, x[3], 16, 0xd4ef3085);
  MD5_STEP(H, b, c, d, a, x[6], 23, 0x04881d05);
  MD5_STEP(H, a, b, c, d, x[9], 4, 0xd9d4d039);
  MD5_STEP(H, d, a, b, c, x[12], 11, 0xe6db99e5);
  MD5_STEP(H, c, d, a, b, x[15], 16, 0x1fa27cf8);
  MD5_STEP(H, b, c, d, a, x[2], 23, 0xc4ac5665);

  MD5_STEP(I, a, b, c, d, x[0], 6, 0xf4292244);
  MD5_STEP(I, d, a, b, c, x[7], 10, 0x432aff97);
  MD5_STEP(I, c, d, a, b, x[14], 15, 0xab9423a7);
  MD5_STEP(I, b, c, d, a, x[5], 21, 0xfc93a039);
  MD5_STEP(I, a, b, c, d, x[12], 6, 0x655b59c3);
  MD5_STEP(I, d, a, b, c, x[3], 10, 0x8f0ccc92);
  MD5_STEP(I, c, d, a, b, x[10], 15, 0xffeff47d);
  MD5_STEP(I, b, c, d, a, x[1], 21, 0x85845dd1);
  MD5_STEP(I, a, b, c, d, x[8], 6, 0x6fa87e4f);
  MD5_STEP(I, d, a, b, c, x[15], 10, 0xfe2ce6e0);
  MD5_STEP(I, c, d, a, b, x[6], 15, 0xa3014314);
  MD5_STEP(I, b, c, d, a, x[13], 21, 0x4e0811a1);
  MD5_STEP(I, a, b, c, d, x[4], 6, 0xf7537e82);
  MD5_STEP(I, d, a, b, c, x[11], 10, 0xbd3af235);
  MD5_STEP(I, c, d, a, b, x[2], 15, 0x2ad7d2bb);
  MD5_STEP(I, b, c, d, a, x[9], 21, 0xeb86d391);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

void md5Update(Md5Context* context, const uint8_t* bytes, uint32_t length) {
  if (length == 0) return;  // an empty buffer may come as a null pointer, which memcpy must not get
  uint32_t used = (context->bitCount[0] >> 3) & 0x3F;
  uint32_t low = context->bitCount[0] + (length << 3);
  if (low < context->bitCount[0]) ++context->bitCount[1];
  context->bitCount[0] = low;
  context->bitCount[1] += length >> 29;

  uint32_t i = 0;
  if (used != 0) {
    uint32_t room = 64 - used;
    if (length < room) {
      std::memcpy(context->input + used, bytes, length);
      return;
    }
    std::memcpy(context->input + used, bytes, room);
    TransformBytes(context->state, context->input);
    i = room;
  }
  // Whole blocks straight from the caller's bytes: no copy through input.
  for (; i + 64 <= length; i += 64) TransformBytes(context->state, bytes + i);
  std::memcpy(context->input, bytes + i, length - i);
}

void md5Final(Md5Context* context) {
  uint8_t lengthBytes[8];
  StoreLe32(lengthBytes, context->bitCount[0]);
  StoreLe32(lengthBytes + 4, context->bitCount[1]);

  static const uint8_t kPadding[64] = {0x80};
  uint32_t used = (context->bitCount[0] >> 3) & 0x3F;
  uint32_t padLength = (used < 56) ? (56 - used) : (120 - used);
  md5Update(context, kPadding, padLength);
  md5Update(context, lengthBytes, 8);

  for (int i = 0; i < 4; ++i) StoreLe32(context->digest + 4 * i, context->state[i]);
}

void toHex(char* out, const uint8_t* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < count; ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
}

std::string fileMd5(const std::string& path, uint32_t* size) {
  std::FILE* file = platform::OpenFile(path, "rb");
  if (!file) return std::string();

  long long length = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    length = static_cast<long long>(std::ftell(file));
  }
  if (length < 0 || length > 0x7FFFFFFF || std::fseek(file, 0, SEEK_SET) != 0) {
    std::fclose(file);
    return std::string();
  }

  uint32_t total = static_cast<uint32_t>(length);
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[total ? total : 1]);
  if (!buffer) {
    std::fclose(file);
    return std::string();
  }
  uint32_t got = 0;
  while (got < total) {
    size_t n = std::fread(buffer.get() + got, 1, total - got, file);
    // A file that shrank while being read cannot match any digest: give up on it.
    if (n == 0) {
      std::fclose(file);
      return std::string();
    }
    got += static_cast<uint32_t>(n);
  }
  std::fclose(file);
  *size = total;

  Md5Context context;
  md5Init(&context);
  md5Update(&context, buffer.get(), total);
  md5Final(&context);

  return toUpperHex(context.digest, 16);
}

std::string toUpperHex(const uint8_t* bytes, size_t count) {
  std::string text(2 * count + 1, '\0');
  toHex(&text[0], bytes, count);
  text.pop_back();
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}
