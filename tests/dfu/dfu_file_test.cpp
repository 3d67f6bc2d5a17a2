// The formats the library reads: .dfu files (layout, CRC, refusal of damaged files, the file
// calls) and the memory-layout strings of alternate settings.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "dfu/dfuse/dfu_file_format.h"
#include "dfu/dfuse/memory_layout.h"
#include "dfu/dfuse/stdfufiles.h"
#include "support/dfu_packages.h"
#include "support/temp_folder.h"

using testsupport::Pattern;

namespace {

void Put32(std::vector<uint8_t>* bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void ResealCrc(std::vector<uint8_t>* bytes) {
  Put32(bytes, bytes->size() - 4, DfuCrc(bytes->data(), bytes->size() - 4));
}

DfuImageHandle ImageOf(uint8_t alternate, const char* name,
                       const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& elements) {
  DfuMappingEntry entry;
  entry.alternate = alternate;
  entry.name = name;
  DfuImageHandle image = nullptr;
  EXPECT_EQ(STDFU_NOERROR, STDFUFILES_CreateImageFromMapping(&image, &entry));
  for (const auto& e : elements) {
    DfuElement element;
    element.dwAddress = e.first;
    element.dwDataLength = static_cast<uint32_t>(e.second.size());
    element.Data = const_cast<uint8_t*>(e.second.data());
    EXPECT_EQ(STDFU_NOERROR, STDFUFILES_AppendImageElement(image, &element));
  }
  return image;
}

}  // namespace

TEST(DfuFile, CrcIsReflectedCrc32WithoutFinalXor) {
  EXPECT_EQ(0x340BC6D9u, DfuCrc(reinterpret_cast<const uint8_t*>("123456789"), 9));
}

// A package written through the file calls: its bytes as the format lays them out, read back
// by the parser and by the file calls with every field.
TEST(DfuFile, APackageWrittenByTheFileCallsReadsBackWithEveryField) {
  testsupport::TempFolder folder;
  const std::string path = folder.file("made.dfu");
  DfuFileHandle file = nullptr;
  ASSERT_EQ(STDFU_NOERROR,
            STDFUFILES_CreateNewDFUFile(path.c_str(), &file, 0x0483, 0xA19B, 0x0102));
  DfuImageHandle images[] = {
      ImageOf(1, "Option Bytes  ", {{0x1FFFF800, Pattern(16, 1)}}),
      ImageOf(0, "Internal Flash", {{0x08000000, Pattern(3000, 2)}, {0x08010000, Pattern(17, 3)}})};
  for (DfuImageHandle& image : images) {
    ASSERT_EQ(STDFU_NOERROR, STDFUFILES_AppendImageToDFUFile(file, image));
    STDFUFILES_DestroyImage(&image);
  }
  ASSERT_EQ(STDFU_NOERROR, STDFUFILES_SaveDFUFile(file));
  STDFUFILES_CloseDFUFile(file);

  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  // Prefix 11, targets 274 + elements of 8 + data, suffix 16; the prefix counts the whole file.
  ASSERT_EQ(11u + 274 + 8 + 16 + 274 + 8 + 3000 + 8 + 17 + 16, bytes.size());
  EXPECT_EQ(0, std::memcmp(bytes.data(), "DfuSe\x01", 6));
  EXPECT_EQ(bytes.size(), bytes[6] | (bytes[7] << 8) | (bytes[8] << 16));
  EXPECT_EQ(0, std::memcmp(&bytes[bytes.size() - 8], "UFD\x10", 4));
  DfuFileData back;
  std::string why;
  ASSERT_TRUE(ParseDfuFile(bytes.data(), bytes.size(), &back, &why)) << why;
  ASSERT_EQ(2u, back.images.size());
  EXPECT_EQ(1, back.images[0].alternate);
  EXPECT_EQ("Option Bytes  ", back.images[0].name);
  EXPECT_EQ(Pattern(16, 1), back.images[0].elements.at(0).data);
  // Other tools count the image size without the suffix: also accepted, nothing else.
  Put32(&bytes, 6, static_cast<uint32_t>(bytes.size() - 16));
  ResealCrc(&bytes);
  EXPECT_TRUE(ParseDfuFile(bytes.data(), bytes.size(), &back));
  Put32(&bytes, 6, static_cast<uint32_t>(bytes.size() - 1));
  ResealCrc(&bytes);
  EXPECT_FALSE(ParseDfuFile(bytes.data(), bytes.size(), &back));

  uint16_t vid = 0, pid = 0, release = 0;
  uint8_t count = 0;
  ASSERT_EQ(STDFU_NOERROR,
            STDFUFILES_OpenExistingDFUFile(path.c_str(), &file, &vid, &pid, &release, &count));
  EXPECT_EQ(0x0483, vid);
  EXPECT_EQ(0xA19B, pid);
  EXPECT_EQ(0x0102, release);
  EXPECT_EQ(2, count);
  DfuImageHandle image = nullptr;
  EXPECT_EQ(STDFUFILES_BADPARAMETER, STDFUFILES_ReadImageFromDFUFile(file, 2, &image));
  ASSERT_EQ(STDFU_NOERROR, STDFUFILES_ReadImageFromDFUFile(file, 1, &image));
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
  // An element's size first, then its data into the caller's buffer, never more than it holds.
  DfuElement element;
  ASSERT_EQ(STDFU_NOERROR, STDFUFILES_GetImageElement(image, 1, &element));
  EXPECT_EQ(0x08010000u, element.dwAddress);
  EXPECT_EQ(17u, element.dwDataLength);
  std::vector<uint8_t> data(18);
  element.Data = data.data();
  ASSERT_EQ(STDFU_NOERROR, STDFUFILES_GetImageElement(image, 1, &element));
  EXPECT_EQ(Pattern(17, 3), std::vector<uint8_t>(data.begin(), data.begin() + 17));
  element.dwDataLength = 18;
  EXPECT_EQ(STDFUFILES_NOTENOUGHDATA, STDFUFILES_GetImageElement(image, 1, &element));
  STDFUFILES_DestroyImage(&image);
  STDFUFILES_DestroyImage(&copy);
  EXPECT_EQ(nullptr, image);

  ASSERT_TRUE(testsupport::WriteBytes(folder.file("junk.dfu"),
                                      {'D', 'f', 'u', 'S', 'e', 1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(STDFUFILES_BADFORMAT,
            STDFUFILES_OpenExistingDFUFile(folder.file("junk.dfu").c_str(), &file, nullptr, nullptr,
                                           nullptr, nullptr));
  EXPECT_EQ(nullptr, file);
  EXPECT_EQ(STDFUFILES_FILEOPENERROR,
            STDFUFILES_OpenExistingDFUFile(folder.file("none.dfu").c_str(), &file, nullptr, nullptr,
                                           nullptr, nullptr));
}

// Every single flipped bit, every cut, and sizes that lie even under a good CRC.
TEST(DfuFile, DamagedFilesAreRefused) {
  DfuFileData file;
  file.images.push_back(testsupport::OneElementImage(0, 0x08000000, Pattern(40, 4)));
  const std::vector<uint8_t> good = BuildDfuFile(file);
  DfuFileData out;
  ASSERT_TRUE(ParseDfuFile(good.data(), good.size(), &out));
  for (size_t i = 0; i < good.size(); ++i) {
    std::vector<uint8_t> bad = good;
    bad[i] ^= 0x01;
    EXPECT_FALSE(ParseDfuFile(bad.data(), bad.size(), &out)) << "byte " << i;
    EXPECT_FALSE(ParseDfuFile(good.data(), i, &out)) << "length " << i;
  }
  const size_t target = 11, element = 11 + 274;
  const struct {
    const char* what;
    size_t at;
    uint32_t value;
    int width;
  } cases[] = {
      {"more elements than the target holds", target + 270, 2, 4},
      {"element count that would overflow", target + 270, 0xFFFFFFFF, 4},
      {"element larger than the file", element + 4, 41, 4},
      {"negative element size", element + 4, 0xFFFFFFF0, 4},
      {"target size beyond the file", target + 266, 0x7FFFFFFF, 4},
      {"target size smaller than its elements", target + 266, 40, 4},
      {"element past the address space", element, 0xFFFFFFF0, 4},
      {"two targets announced, one present", 10, 2, 1},
      {"bcdDFU 0x0100: a plain DFU file", good.size() - 10, 0x00, 1},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bad = good;
    if (c.width == 4)
      Put32(&bad, c.at, c.value);
    else
      bad[c.at] = static_cast<uint8_t>(c.value);
    ResealCrc(&bad);
    EXPECT_FALSE(ParseDfuFile(bad.data(), bad.size(), &out)) << c.what;
  }
  std::vector<uint8_t> bad = good;
  std::memset(&bad[target + 11], 'A', 255);  // a name without its terminator
  ResealCrc(&bad);
  EXPECT_FALSE(ParseDfuFile(bad.data(), bad.size(), &out));
}

TEST(DfuFile, FilterChecksElementsAgainstTheSectors) {
  DfuMappingEntry entry;
  entry.sectors = {{0x08000000, 0x4000, 0x07}, {0x08004000, 0x4000, 0x01}};
  entry.sectorCount = 2;
  DfuImageHandle image = ImageOf(0, "", {{0x08003F80, Pattern(0x100, 6)}});  // into read-only
  EXPECT_EQ(STDFUFILES_ELEMENTOUTOFMAP,
            STDFUFILES_FilterImageForOperation(image, &entry, kOperationDownload, 0));
  EXPECT_EQ(STDFU_NOERROR, STDFUFILES_FilterImageForOperation(image, &entry, kOperationUpload, 0));
  EXPECT_EQ(STDFU_NOERROR, STDFUFILES_FilterImageForOperation(image, &entry, kOperationErase, 0));
  STDFUFILES_DestroyImage(&image);
  image = ImageOf(0, "", {{0x08007F80, Pattern(0x100, 6)}});  // past the last sector
  EXPECT_EQ(STDFUFILES_ELEMENTOUTOFMAP,
            STDFUFILES_FilterImageForOperation(image, &entry, kOperationUpload, 0));
  STDFUFILES_DestroyImage(&image);
}

// Layout strings as boot loaders write them: name with its spaces, zones, every unit and type
// letter (a: readable, b: erasable, c: both, d: writeable, ... g: all three).
TEST(MemoryLayout, DecodesEveryUnitTypeLetterAndZone) {
  const struct {
    const char* text;
    const char* name;
    size_t count;
    size_t index;  // the sector checked
    uint32_t address, size;
    uint8_t attributes;
  } cases[] = {
      {"@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg", "Internal Flash  ", 12, 3,
       0x0800C000, 16384, 7},
      {"@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg", "Internal Flash  ", 12, 4,
       0x08010000, 65536, 7},
      {"@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg", "Internal Flash  ", 12, 11,
       0x080E0000, 131072, 7},
      {"@Option Bytes  /0x1FFFF800/01*016 e", "Option Bytes  ", 1, 0, 0x1FFFF800, 16, 5},
      {"@Internal Flash  /0x08000000/064*0002Kg/0x1FFF7800/01*512 e", "Internal Flash  ", 65, 63,
       0x0801F800, 2048, 7},
      {"@Internal Flash  /0x08000000/064*0002Kg/0x1FFF7800/01*512 e", "Internal Flash  ", 65, 64,
       0x1FFF7800, 512, 5},
  };
  DfuMappingEntry e;
  for (const auto& c : cases) {
    ASSERT_TRUE(ParseMemoryLayout(c.text, &e)) << c.text;
    EXPECT_EQ(c.name, e.name);
    ASSERT_EQ(c.count, e.sectors.size()) << c.text;
    EXPECT_EQ(c.count, e.sectorCount);
    EXPECT_EQ(c.address, e.sectors[c.index].address) << c.text << " " << c.index;
    EXPECT_EQ(c.size, e.sectors[c.index].size) << c.text << " " << c.index;
    EXPECT_EQ(c.attributes, e.sectors[c.index].attributes) << c.text << " " << c.index;
  }
  ASSERT_TRUE(ParseMemoryLayout("@X/0x00000000/1*1Ba,1*2Bb,1*3Bc,1*1Kd,1*2Ke,1*1Mf,1*2Mg", &e));
  ASSERT_EQ(7u, e.sectors.size());
  const uint32_t sizes[] = {1, 2, 3, 1024, 2048, 1048576, 2097152};
  uint32_t address = 0;
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(sizes[i], e.sectors[i].size) << i;
    EXPECT_EQ(i + 1, e.sectors[i].attributes) << i;
    EXPECT_EQ(address, e.sectors[i].address) << i;
    address += sizes[i];
  }
}

TEST(MemoryLayout, BrokenDescriptionsAreRefused) {
  DfuMappingEntry e;
  const char* bad[] = {
      "",
      "Internal Flash/0x08000000/04*016Kg",       // no @
      "@Internal Flash",                          // no zone
      "@F/08000000/04*016Kg",                     // address without 0x
      "@F/0x08000000/04*016Kh",                   // type letter past g
      "@F/0x08000000/04*016Xg",                   // unknown unit
      "@F/0x08000000/04016Kg",                    // no *
      "@F/0x08000000/04*016Kg,",                  // dangling comma
      "@F/0x08000000/64Kg",                       // a broken board's description
      "@F/0x1FFFFFFFF/01*016Kg",                  // address beyond 32 bits
      "@F/0xFFFF0000/02*064Kg",                   // runs past the address space
      "@F/0x00000000/99999999*1Ba",               // more sectors than accepted
      "@F/0x08000000/01*0Kg",                     // empty sector
      "@F/0x08000000/01*99999999999999999999Kg",  // size overflow
      "@F/0x00000000/8193*1Ba",                   // one sector over the bound
      "@F/0x00000000/4096*1Ba,4097*1Ba",          // the bound holds across groups
  };
  for (const char* text : bad) EXPECT_FALSE(ParseMemoryLayout(text, &e)) << text;
  EXPECT_TRUE(ParseMemoryLayout("@F/0x00000000/8192*1Ba", &e));
}
