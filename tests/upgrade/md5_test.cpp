#include "upgrade/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "support/http_server.h"
#include "support/temp_folder.h"

namespace {

std::string Md5Of(const void* bytes, size_t n) {
  Md5Context context;
  md5Init(&context);
  md5Update(&context, static_cast<const uint8_t*>(bytes), static_cast<uint32_t>(n));
  md5Final(&context);
  char text[33] = {0};
  toHex(text, context.digest, 16);
  return text;
}

std::string Md5Of(const std::string& text) { return Md5Of(text.data(), text.size()); }

void WriteBytes(const std::string& path, const void* bytes, size_t n) {
  std::FILE* file = platform::OpenFile(path, "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fwrite(bytes, 1, n, file), n);
  std::fclose(file);
}

TEST(Md5, MatchesTheRfc1321TestSuite) {
  EXPECT_EQ(Md5Of(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Of("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(Md5Of("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(Md5Of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(Md5Of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(Md5Of("1234567890123456789012345678901234567890123456789012345678901234567890123456"
                  "7890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PaddingBoundariesAroundOneBlock) {
  // 55 fits the length in the same block, 56 to 63 need a second padding block, 64 and 65 start
  // the second data block. Digests from an independent implementation (md5sum).
  const std::pair<size_t, const char*> cases[] = {{55, "ef1772b6dff9a122358552954ad0df65"},
                                                  {56, "3b0c8ac703f828b04c6c197006d17218"},
                                                  {63, "b06521f39153d618550606be297466d5"},
                                                  {64, "014842d480b571495a4a0363793f7367"},
                                                  {65, "c743a45e0d2e6a95cb859adae0248435"}};
  for (const auto& c : cases) {
    EXPECT_EQ(Md5Of(std::string(c.first, 'a')), c.second) << c.first << " bytes";
  }
}

TEST(Md5, LargeBufferInAnySplitEqualsAnIndependentDigest) {
  std::vector<uint8_t> bytes = testsupport::PatternBytes((1u << 20) + 13, 7);
  const char* expected = "173833bfce8ec4476710440b1116ec9c";  // md5sum of the same bytes
  EXPECT_EQ(Md5Of(bytes.data(), bytes.size()), expected);

  // Uneven pieces cross every position inside a block.
  Md5Context context;
  md5Init(&context);
  size_t at = 0;
  for (uint32_t piece = 1; at < bytes.size(); piece = piece % 131 + 1) {
    uint32_t n = static_cast<uint32_t>(std::min<size_t>(piece, bytes.size() - at));
    md5Update(&context, bytes.data() + at, n);
    at += n;
  }
  md5Final(&context);
  char text[33] = {0};
  toHex(text, context.digest, 16);
  EXPECT_STREQ(text, expected);
}

TEST(Md5, ToHexIsLowerCaseAndFileMd5UpperCase) {
  const uint8_t bytes[] = {0x0A, 0xFF};
  char text[5] = {0};
  toHex(text, bytes, 2);
  EXPECT_STREQ(text, "0aff");

  testsupport::TempFolder folder;
  std::string path = folder.file("package.bin");
  WriteBytes(path, "abc", 3);
  uint32_t size = 99;
  EXPECT_EQ(fileMd5(path, &size), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(size, 3u);

  WriteBytes(path, "", 0);
  EXPECT_EQ(fileMd5(path, &size), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(size, 0u);

  std::vector<uint8_t> block(64 * 3, 0x5A);
  WriteBytes(path, block.data(), block.size());
  EXPECT_EQ(fileMd5(path, &size), [&] {
    std::string s = Md5Of(block.data(), block.size());
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }());
  EXPECT_EQ(size, 192u);

  size = 42;
  EXPECT_EQ(fileMd5(folder.file("missing.bin"), &size), "");
  EXPECT_EQ(size, 42u) << "a file that cannot be opened leaves the size alone";
}

}  // namespace
