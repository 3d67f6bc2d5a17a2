#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "upgrade/download_request.h"
#include "upgrade/package_cache.h"
#include "upgrade/package_url.h"

namespace {

const std::string kDigest = "0123456789ABCDEF0123456789ABCDEF";

// The name comes from the last path segment, split at its last dot; the query and the fragment
// (slashes and dots in them included) never reach it, nor does a character that could leave the
// folder.
TEST(TempName, LastSegmentSplitAtTheLastDotWithoutQueryOrUnsafeCharacters) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://h/fw/reader.dfu", "reader_D.dfu"},
      {"http://h/fw/reader.v2.dfu", "reader.v2_D.dfu"},
      {"http://h/fw/reader", "reader_D"},
      {"http://h/fw/", "_D"},
      {"no-slash-at-all.dfu", "_D"},
      {"http://h/a/.dfu", "_D.dfu"},
      {"http://h/fw/读卡器.dfu", "读卡器_D.dfu"},
      {"http://host/fw/reader.dfu?x=1", "reader_D.dfu"},
      {"http://host/fw/reader.dfu#top", "reader_D.dfu"},
      {"http://host/fw/reader.dfu?sig=a/b.c&v=2#p/q.r", "reader_D.dfu"},
      {"http://host/fw/reader.dfu#p?q.bin", "reader_D.dfu"},
      {"http://host/get?file=fw.dfu", "get_D"},
      {"http://host/fw/?name=x.dfu", "_D"},
      {"http://h/..\\..\\evil.dfu", ".._.._evil_D.dfu"},
      {"http://h/C:evil.dfu", "C_evil_D.dfu"},
      {"http://h/a*b|c<d>e\"f.dfu", "a_b_c_d_e_f_D.dfu"},
      {"http://h/a\tb\x01.bin", "a_b__D.bin"},
  };
  for (const auto& c : cases) EXPECT_EQ(BuildTempName(c.first, "D"), c.second) << c.first;
}

TEST(TempName, HostileNamesStayInTheFolder) {
  const char* hostile[] = {"http://h/..\\..\\..\\Windows\\evil.dfu", "http://h/C:\\evil.dfu",
                           "http://h/x:stream.dfu", "http://h/..", "http://h/."};
  for (const char* url : hostile) {
    std::string name = BuildTempName(url, kDigest);
    EXPECT_EQ(name.find_first_of("\\/:"), std::string::npos) << url;
    EXPECT_NE(name, "..");
    char path[kPackagePathBufferSize];
    ASSERT_TRUE(BuildTempPath("/tmp/ovra7-1/", "/", url, kDigest, path, sizeof(path)));
    EXPECT_EQ(std::string(path), "/tmp/ovra7-1//" + name);
  }
}

TEST(TempPath, FolderSeparatorNameAndRefusalOfWhatDoesNotFit) {
  char path[kPackagePathBufferSize];
  ASSERT_TRUE(BuildTempPath("C:\\Temp\\", "\\", "http://h/reader.dfu", kDigest, path, 260));
  EXPECT_STREQ(path, ("C:\\Temp\\\\reader_" + kDigest + ".dfu").c_str());

  // "C:\T\" + "\" + base + "_" + 32 + ".dfu": exactly 259 characters fit, 260 do not.
  std::string dir = "C:\\T\\";
  size_t fixed = dir.size() + 1 + 1 + kDigest.size() + 4;
  std::string fits(259 - fixed, 'x');
  ASSERT_TRUE(BuildTempPath(dir, "\\", "http://h/" + fits + ".dfu", kDigest, path, 260));
  EXPECT_EQ(std::strlen(path), 259u);
  EXPECT_FALSE(BuildTempPath(dir, "\\", "http://h/" + fits + "y.dfu", kDigest, path, 260));
  EXPECT_STREQ(path, "") << "a refused path is not cut into another one";
  EXPECT_FALSE(BuildTempPath("", "/", "http://h/a.dfu", kDigest, path, 260));
}

// A temporary folder under a Chinese user name: the path is far longer in UTF-8 bytes than in
// characters, and the system's own limit is what counts.
TEST(TempPath, NonAsciiFolderCountsAsTheSystemCounts) {
  std::string user;
  for (int i = 0; i < 100; ++i) user += "张";
  const std::string dir = std::string("/home/") + user + "/tmp/";
  char path[kPackagePathBufferSize];
  ASSERT_TRUE(BuildTempPath(dir, "/", "http://h/fw/读卡器.dfu", kDigest, path, sizeof(path)));
  EXPECT_EQ(std::string(path), dir + "/读卡器_" + kDigest + ".dfu");
  EXPECT_GT(std::strlen(path), 260u);
}

TEST(PackageUrl, SchemePortPathAndQuery) {
  const struct {
    const char* url;
    bool secure;
    const char* host;
    int port;
    const char* path;
  } cases[] = {
      {"http://example.com/fw/a.dfu?v=2&x=y", false, "example.com", 80, "/fw/a.dfu?v=2&x=y"},
      {"https://10.0.0.1:8443/p", true, "10.0.0.1", 8443, "/p"},
      {"https://h/", true, "h", 443, "/"},
      {"http://h:abc/x", false, "h", 0, "/x"},  // a port that is not a number reads as 0
      {"http://h:8080x/x", false, "h", 8080, "/x"},
      {"http://h:70000/x", false, "h", 70000 - 65536, "/x"},  // cut to 16 bits
      {"http://h:1:2/x", false, "h", 1, "/x"},
  };
  for (const auto& c : cases) {
    PackageUrl u;
    ASSERT_EQ(ParsePackageUrl(c.url, &u), PackageUrlResult::kOk) << c.url;
    EXPECT_EQ(u.secure, c.secure) << c.url;
    EXPECT_EQ(u.host, c.host) << c.url;
    EXPECT_EQ(u.port, c.port) << c.url;
    EXPECT_EQ(u.path, c.path) << c.url;
  }
  PackageUrl u;
  for (const char* url : {"HTTP://h/x", "Https://h/x", " http://h/x", "ftp://h/x", "http:/"})
    EXPECT_EQ(ParsePackageUrl(url, &u), PackageUrlResult::kNoScheme) << url;
  for (const char* url : {"http://host-only", "https://h:443"})
    EXPECT_EQ(ParsePackageUrl(url, &u), PackageUrlResult::kNoPath) << url;
}

std::string Request(const std::string& label, const std::string& after) {
  std::string digest;
  for (int i = 0; i < 16; ++i) digest += static_cast<char>(0xF0 + i);
  return label + " " + digest + "\x7f" + after;
}

DownloadRequest Parse(const std::string& bytes) {
  return ParseDownloadRequest(reinterpret_cast<const uint8_t*>(bytes.data()),
                              static_cast<int>(bytes.size()));
}

TEST(DownloadRequestParse, LabelDigestUrlAndFlag) {
  DownloadRequest r = Parse(Request("fw", "http://h/a.dfu"));
  ASSERT_TRUE(r.complete());
  EXPECT_EQ(r.label, "fw");
  EXPECT_EQ(r.md5Hex, "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");
  EXPECT_EQ(r.url, "http://h/a.dfu");
  EXPECT_EQ(r.enterDfu, 0);

  r = Parse(Request("fw", "http://h/a.dfu 1"));
  EXPECT_EQ(r.enterDfu, 1);
  EXPECT_EQ(r.url, "http://h/a.dfu");
  EXPECT_EQ(r.label, "fw");
  EXPECT_EQ(Parse(Request("fw", "http://h/a.dfu 0")).enterDfu, 0);
  EXPECT_EQ(Parse(Request("fw", "http://h/a.dfu ")).enterDfu, 0);
  EXPECT_TRUE(Parse(Request("", "http://h/a")).complete()) << "an empty label still counts";
}

TEST(DownloadRequestParse, IncompleteRequestsAreStatusPolls) {
  EXPECT_FALSE(ParseDownloadRequest(nullptr, 0).complete());
  EXPECT_FALSE(Parse("nospaceatall").complete());
  std::string shortDigest = "fw " + std::string(16, 'd');  // 16 bytes after the space
  EXPECT_FALSE(Parse(shortDigest).hasDigest);
  EXPECT_TRUE(Parse(shortDigest + "s").hasDigest);
  EXPECT_FALSE(Parse(Request("fw", "")).complete()) << "no URL";
  EXPECT_FALSE(Parse(Request("fw", "h")).complete()) << "one byte is too short for a URL";
  EXPECT_FALSE(Parse(Request("fw", " 1")).complete()) << "empty URL";
  EXPECT_TRUE(Parse(Request(std::string(5000, 'L'), "http://h/x")).complete());

  // Binary garbage of every length never reads past its end (checked under ASan) and never
  // yields a digest that is not 32 hexadecimal digits.
  std::string garbage;
  for (int i = 0; i < 300; ++i) {
    garbage += static_cast<char>((i * 37 + 11) & 0xFF);
    DownloadRequest r = Parse(garbage);
    if (r.hasDigest) {
      EXPECT_EQ(r.md5Hex.size(), 32u);
    }
  }
}

}  // namespace
