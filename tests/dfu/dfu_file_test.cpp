// .dfu files: our writer read back, the CRC convention, and refusal of damaged files.
#include <gtest/gtest.h>

#include <cstring>

#include "dfu/dfuse/dfu_file_format.h"
#include "dfu/dfuse/stdfufiles.h"
#include "support/dfu_packages.h"
#include "support/temp_folder.h"

using testsupport::OneElementImage;
using testsupport::Pattern;

namespace {

DfuFileData TwoImagePackage() {
  DfuFileData file;
  file.idVendor = 0x0483;
  file.idProduct = 0xA19B;
  file.bcdDevice = 0x0102;
  file.images.push_back(OneElementImage(1, 0x1FFFF800, Pattern(16, 1), "Option Bytes  "));
  DfuImageData flash = OneElementImage(0, 0x08000000, Pattern(3000, 2));
  DfuElementData second;
  second.address = 0x08010000;
  second.data = Pattern(17, 3);
  flash.elements.push_back(second);
  file.images.push_back(flash);
  return file;
}

void ResealCrc(std::vector<uint8_t>* bytes) {
  uint32_t crc = DfuCrc(bytes->data(), bytes->size() - 4);
  for (int i = 0; i < 4; ++i)
    (*bytes)[bytes->size() - 4 + i] = static_cast<uint8_t>(crc >> (8 * i));
}

void Put32(std::vector<uint8_t>* bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

TEST(DfuFile, CrcIsReflectedCrc32WithoutFinalXor) {
  const char* text = "123456789";
  EXPECT_EQ(0x340BC6D9u, DfuCrc(reinterpret_cast<const uint8_t*>(text), 9));
}

TEST(DfuFile, WrittenPackageReadsBackWithEveryField) {
  std::vector<uint8_t> bytes = BuildDfuFile(TwoImagePackage());
  // Layout: prefix 11, targets 274 + elements, suffix 16; the prefix counts the whole file.
  ASSERT_EQ(11u + 274 + 8 + 16 + 274 + 8 + 3000 + 8 + 17 + 16, bytes.size());
  EXPECT_EQ(0, std::memcmp(bytes.data(), "DfuSe\x01", 6));
  EXPECT_EQ(bytes.size(), bytes[6] | (bytes[7] << 8) | (bytes[8] << 16));
  EXPECT_EQ(0, std::memcmp(&bytes[bytes.size() - 8], "UFD\x10", 4));

  DfuFileData back;
  std::string why;
  ASSERT_TRUE(ParseDfuFile(bytes.data(), bytes.size(), &back, &why)) << why;
  EXPECT_EQ(0x0483, back.idVendor);
  EXPECT_EQ(0xA19B, back.idProduct);
  EXPECT_EQ(0x0102, back.bcdDevice);
  ASSERT_EQ(2u, back.images.size());
  EXPECT_EQ(1, back.images[0].alternate);
  EXPECT_EQ("Option Bytes  ", back.images[0].name);
  ASSERT_EQ(2u, back.images[1].elements.size());
  EXPECT_EQ(0x08010000u, back.images[1].elements[1].address);
  EXPECT_EQ(Pattern(3000, 2), back.images[1].elements[0].data);
  EXPECT_EQ(Pattern(17, 3), back.images[1].elements[1].data);

  // The other tools' convention: image size without the suffix.
  Put32(&bytes, 6, static_cast<uint32_t>(bytes.size() - 16));
  ResealCrc(&bytes);
  EXPECT_TRUE(ParseDfuFile(bytes.data(), bytes.size(), &back));
  Put32(&bytes, 6, static_cast<uint32_t>(bytes.size() - 1));
  ResealCrc(&bytes);
  EXPECT_FALSE(ParseDfuFile(bytes.data(), bytes.size(), &back));
}

TEST(DfuFile, OneCorruptedByteAnywhereIsRefused) {
  DfuFileData file;
  file.images.push_back(OneElementImage(0, 0x08000000, Pattern(40, 4)));
  const std::vector<uint8_t> good = BuildDfuFile(file);
  DfuFileData out;
  ASSERT_TRUE(ParseDfuFile(good.data(), good.size(), &out));
  for (size_t i = 0; i < good.size(); ++i) {
    std::vector<uint8_t> bad = good;
    bad[i] ^= 0x01;
    EXPECT_FALSE(ParseDfuFile(bad.data(), bad.size(), &out)) << "byte " << i;
  }
  // Cut short anywhere.
  for (size_t n = 0; n < good.size(); ++n)
    EXPECT_FALSE(ParseDfuFile(good.data(), n, &out)) << "length " << n;
}

TEST(DfuFile, SizesThatLieAreRefusedEvenWithAGoodCrc) {
  DfuFileData file;
  file.images.push_back(OneElementImage(0, 0x08000000, Pattern(40, 5)));
  const std::vector<uint8_t> good = BuildDfuFile(file);
  const size_t target = 11, element = 11 + 274;
  DfuFileData out;
  struct Case {
    const char* what;
    size_t at;
    uint32_t value;
  } cases[] = {
      {"more elements than the target holds", target + 270, 2},
      {"element count that would overflow", target + 270, 0xFFFFFFFF},
      {"element larger than the file", element + 4, 41},
      {"negative element size", element + 4, 0xFFFFFFF0},
      {"target size beyond the file", target + 266, 0x7FFFFFFF},
      {"target size smaller than its elements", target + 266, 40},
      {"element past the address space", element, 0xFFFFFFF0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bad = good;
    Put32(&bad, c.at, c.value);
    ResealCrc(&bad);
    EXPECT_FALSE(ParseDfuFile(bad.data(), bad.size(), &out)) << c.what;
  }
  std::vector<uint8_t> bad = good;
  bad[10] = 2;  // two targets announced, one present
  ResealCrc(&bad);
  EXPECT_FALSE(ParseDfuFile(bad.data(), bad.size(), &out));
  bad = good;
  std::memset(&bad[target + 11], 'A', 255);  // a name without its terminator
  ResealCrc(&bad);
  EXPECT_FALSE(ParseDfuFile(bad.data(), bad.size(), &out));
  bad = good;
  bad[bad.size() - 10] = 0x00;  // bcdDFU 0x0100: a plain DFU file, not ours
  ResealCrc(&bad);
  EXPECT_FALSE(ParseDfuFile(bad.data(), bad.size(), &out));
}

TEST(DfuFile, FileCallsOpenReadDuplicateAndGiveElements) {
  testsupport::TempFolder folder;
  const std::string path = folder.file("package.dfu");
  ASSERT_TRUE(testsupport::WritePackage(path, TwoImagePackage()));

  DfuFileHandle file = nullptr;
  uint16_t vid = 0, pid = 0, release = 0;
  uint8_t count = 0;
  ASSERT_EQ(STDFU_NOERROR,
            STDFUFILES_OpenExistingDFUFile(path.c_str(), &file, &vid, &pid, &release, &count));
  EXPECT_EQ(0x0483, vid);
  EXPECT_EQ(0xA19B, pid);
  EXPECT_EQ(2, count);
  DfuImageHandle image = nullptr;
  ASSERT_EQ(STDFU_NOERROR, STDFUFILES_ReadImageFromDFUFile(file, 1, &image));
  EXPECT_EQ(STDFUFILES_BADPARAMETER, STDFUFILES_ReadImageFromDFUFile(file, 2, &image));
  STDFUFILES_CloseDFUFile(file);

  uint8_t alternate = 9;
  STDFUFILES_GetImageAlternate(image, &alternate);
  EXPECT_EQ(0, alternate);
  EXPECT_EQ(3017u, STDFUFILES_GetImageSize(image));
  DfuImageHandle copy = nullptr;
  ASSERT_EQ(STDFU_NOERROR, STDFUFILES_DuplicateImage(image, &copy));
  STDFUFILES_SetImageName(copy, "renamed");
  char name[512];
  STDFUFILES_GetImageName(image, name);
  EXPECT_STREQ("Internal Flash", name);
  STDFUFILES_GetImageName(copy, name);
  EXPECT_STREQ("renamed", name);

  DfuElement element;
  ASSERT_EQ(STDFU_NOERROR, STDFUFILES_GetImageElement(image, 1, &element));
  EXPECT_EQ(0x08010000u, element.dwAddress);
  EXPECT_EQ(17u, element.dwDataLength);
  std::vector<uint8_t> data(17);
  element.Data = data.data();
  ASSERT_EQ(STDFU_NOERROR, STDFUFILES_GetImageElement(image, 1, &element));
  EXPECT_EQ(Pattern(17, 3), data);
  data.resize(18);
  element.Data = data.data();
  element.dwDataLength = 18;  // more than the element holds
  EXPECT_EQ(STDFUFILES_NOTENOUGHDATA, STDFUFILES_GetImageElement(image, 1, &element));
  STDFUFILES_DestroyImage(&image);
  STDFUFILES_DestroyImage(&copy);
  EXPECT_EQ(nullptr, image);

  // Damaged, missing and foreign files do not open.
  std::vector<uint8_t> junk = {'D', 'f', 'u', 'S', 'e', 1, 0, 0, 0, 0, 0};
  ASSERT_TRUE(testsupport::WriteBytes(folder.file("junk.dfu"), junk));
  EXPECT_EQ(STDFUFILES_BADFORMAT,
            STDFUFILES_OpenExistingDFUFile(folder.file("junk.dfu").c_str(), &file, nullptr, nullptr,
                                           nullptr, nullptr));
  EXPECT_EQ(nullptr, file);
  EXPECT_EQ(STDFUFILES_FILEOPENERROR,
            STDFUFILES_OpenExistingDFUFile(folder.file("none.dfu").c_str(), &file, nullptr, nullptr,
                                           nullptr, nullptr));
}

TEST(DfuFile, FilterChecksElementsAgainstTheSectors) {
  DfuMappingEntry entry;
  entry.alternate = 0;
  entry.sectors = {{0x08000000, 0x4000, 0x07}, {0x08004000, 0x4000, 0x01}};
  entry.sectorCount = 2;
  DfuImageHandle image = nullptr;
  STDFUFILES_CreateImage(&image, 0);
  std::vector<uint8_t> data = Pattern(0x100, 6);
  DfuElement e;
  e.dwAddress = 0x08003F80;  // runs into the read-only second sector
  e.dwDataLength = 0x100;
  e.Data = data.data();
  ASSERT_EQ(STDFU_NOERROR, STDFUFILES_AppendImageElement(image, &e));
  EXPECT_EQ(STDFUFILES_ELEMENTOUTOFMAP,
            STDFUFILES_FilterImageForOperation(image, &entry, kOperationDownload, 0));
  EXPECT_EQ(STDFU_NOERROR, STDFUFILES_FilterImageForOperation(image, &entry, kOperationUpload, 0));
  EXPECT_EQ(STDFU_NOERROR, STDFUFILES_FilterImageForOperation(image, &entry, kOperationErase, 0));
  e.dwAddress = 0x08007F80;  // past the last sector
  STDFUFILES_AppendImageElement(image, &e);
  EXPECT_EQ(STDFUFILES_ELEMENTOUTOFMAP,
            STDFUFILES_FilterImageForOperation(image, &entry, kOperationUpload, 0));
  STDFUFILES_DestroyImage(&image);
}

TEST(DfuFile, FileCallsCreateAndSaveAPackage) {
  testsupport::TempFolder folder;
  const std::string path = folder.file("made.dfu");
  DfuFileHandle file = nullptr;
  ASSERT_EQ(STDFU_NOERROR, STDFUFILES_CreateNewDFUFile(path.c_str(), &file, 0x0483, 0x8159, 7));
  DfuMappingEntry entry;
  entry.alternate = 1;
  entry.name = "Option Bytes  ";
  DfuImageHandle image = nullptr;
  ASSERT_EQ(STDFU_NOERROR, STDFUFILES_CreateImageFromMapping(&image, &entry));
  std::vector<uint8_t> data = Pattern(16, 30);
  DfuElement e;
  e.dwAddress = 0x1FFFF800;
  e.dwDataLength = 16;
  e.Data = data.data();
  ASSERT_EQ(STDFU_NOERROR, STDFUFILES_AppendImageElement(image, &e));
  ASSERT_EQ(STDFU_NOERROR, STDFUFILES_AppendImageToDFUFile(file, image));
  ASSERT_EQ(STDFU_NOERROR, STDFUFILES_SaveDFUFile(file));
  STDFUFILES_CloseDFUFile(file);
  STDFUFILES_DestroyImage(&image);

  uint16_t vid = 0, pid = 0, release = 0;
  uint8_t count = 0;
  ASSERT_EQ(STDFU_NOERROR,
            STDFUFILES_OpenExistingDFUFile(path.c_str(), &file, &vid, &pid, &release, &count));
  EXPECT_EQ(0x8159, pid);
  EXPECT_EQ(7, release);
  ASSERT_EQ(1, count);
  ASSERT_EQ(STDFU_NOERROR, STDFUFILES_ReadImageFromDFUFile(file, 0, &image));
  char name[512];
  STDFUFILES_GetImageName(image, name);
  EXPECT_STREQ("Option Bytes  ", name);
  uint8_t alternate = 0;
  STDFUFILES_GetImageAlternate(image, &alternate);
  EXPECT_EQ(1, alternate);
  EXPECT_EQ(16u, STDFUFILES_GetImageSize(image));
  STDFUFILES_DestroyImage(&image);
  STDFUFILES_CloseDFUFile(file);
}
