#include "upgrade/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iterator>

#include "platform/paths.h"
#include "support/http_server.h"
#include "support/temp_folder.h"
#include "upgrade_helpers.h"

namespace upgradetest {
namespace {

std::string Md5Of(const std::string& text) { return Hex(Digest(text.data(), text.size())); }

TEST(Md5, KnownDigestsAroundEveryPaddingCase) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      // 55 fits the length in the same block, 56 to 63 need a second padding block, 64 and 65
      // start the second data block (digests from md5sum).
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
  };
  for (const auto& c : cases) EXPECT_EQ(Md5Of(c.first), c.second) << c.first.size() << " bytes";
  std::string eighty;
  for (int i = 0; i < 8; ++i) eighty += "1234567890";
  EXPECT_EQ(Md5Of(eighty), "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, LargeBufferInAnySplitEqualsAnIndependentDigest) {
  Bytes bytes = testsupport::PatternBytes((1u << 20) + 13, 7);
  const char* expected = "173833bfce8ec4476710440b1116ec9c";  // md5sum of the same bytes
  EXPECT_EQ(Md5Hex(bytes), expected);
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
  EXPECT_EQ(Hex(Bytes(context.digest, context.digest + 16)), expected);
}

TEST(Md5, ToHexIsLowerCaseAndFileMd5UpperCase) {
  EXPECT_EQ(Hex({0x0A, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x1B}),
            "0aff00000000000000000000000000"
            "1b");
  testsupport::TempFolder folder;
  const std::string path = folder.file("package.bin");
  for (const Bytes& content : {Bytes{'a', 'b', 'c'}, Bytes{}, Bytes(64 * 3, 0x5A)}) {
    std::FILE* file = platform::OpenFile(path, "wb");
    ASSERT_NE(file, nullptr);
    if (!content.empty()) {  // an empty vector's data() may be null, which fwrite must not get
      ASSERT_EQ(std::fwrite(content.data(), 1, content.size(), file), content.size());
    }
    std::fclose(file);
    uint32_t size = 99;
    EXPECT_EQ(fileMd5(path, &size), Md5Hex(content, true));
    EXPECT_EQ(size, content.size());
  }
  EXPECT_EQ(Md5Hex({'a', 'b', 'c'}, true), "900150983CD24FB0D6963F7D28E17F72");
  uint32_t size = 42;
  EXPECT_EQ(fileMd5(folder.file("missing.bin"), &size), "");
  EXPECT_EQ(size, 42u) << "a file that cannot be opened leaves the size alone";
  // A package over 2 GiB is refused before it is read (a sparse file: nothing is written).
  std::filesystem::resize_file(std::filesystem::u8path(path), 0x80000000u);
  EXPECT_EQ(fileMd5(path, &size), "");
  EXPECT_EQ(size, 42u);
}

// The digest lets go of the file: the downloader replaces a package it found wrong, which Windows
// refuses while a handle is open, and a leaked descriptor per check would add up.
TEST(Md5, FileMd5LetsGoOfTheFile) {
  namespace fs = std::filesystem;
  // Open descriptors of a native POSIX process (wine's own come and go: there the removal below
  // tells, as Windows refuses to remove a file that is still open).
  auto descriptors = [] {
    std::error_code e;
    auto it = fs::directory_iterator("/proc/self/fd", e);
    return e || platform::PathSeparator() != std::string("/")
               ? 0
               : std::distance(it, fs::directory_iterator());
  };
  testsupport::TempFolder folder;
  const std::string path = folder.file("package.bin");
  std::FILE* file = platform::OpenFile(path, "wb");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  const auto before = descriptors();
  uint32_t size = 1;
  EXPECT_EQ(fileMd5(path, &size), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(descriptors(), before);
  std::error_code e;
  EXPECT_TRUE(fs::remove(fs::u8path(path), e)) << e.message();
}

}  // namespace
}  // namespace upgradetest
