// Memory-layout strings of alternate settings: units, type letters, names with their spaces.
#include "dfu/dfuse/memory_layout.h"

#include <gtest/gtest.h>

TEST(MemoryLayout, DecodesTheFlashDescriptionOfTheBootLoader) {
  DfuMappingEntry e;
  ASSERT_TRUE(ParseMemoryLayout("@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg", &e));
  EXPECT_EQ("Internal Flash  ", e.name);
  ASSERT_EQ(12u, e.sectorCount);
  ASSERT_EQ(12u, e.sectors.size());
  EXPECT_EQ(0x08000000u, e.sectors[0].address);
  EXPECT_EQ(16384u, e.sectors[0].size);
  EXPECT_EQ(0x0800C000u, e.sectors[3].address);
  EXPECT_EQ(0x08010000u, e.sectors[4].address);
  EXPECT_EQ(65536u, e.sectors[4].size);
  EXPECT_EQ(0x08020000u, e.sectors[5].address);
  EXPECT_EQ(0x080E0000u, e.sectors[11].address);
  EXPECT_EQ(131072u, e.sectors[11].size);
  for (const DfuSector& s : e.sectors) EXPECT_EQ(0x07, s.attributes);
}

TEST(MemoryLayout, EveryUnitAndTypeLetter) {
  DfuMappingEntry e;
  ASSERT_TRUE(ParseMemoryLayout("@Option Bytes  /0x1FFFF800/01*016 e", &e));
  EXPECT_EQ("Option Bytes  ", e.name);
  ASSERT_EQ(1u, e.sectors.size());
  EXPECT_EQ(16u, e.sectors[0].size);
  EXPECT_EQ(0x05, e.sectors[0].attributes);  // readable, writeable

  ASSERT_TRUE(ParseMemoryLayout("@X/0x00000000/1*1Ba,1*2Bb,1*3Bc,1*1Kd,1*2Ke,1*1Mf,1*2Mg", &e));
  ASSERT_EQ(7u, e.sectors.size());
  const uint32_t sizes[] = {1, 2, 3, 1024, 2048, 1048576, 2097152};
  const uint8_t attributes[] = {1, 2, 3, 4, 5, 6, 7};
  uint32_t address = 0;
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(sizes[i], e.sectors[i].size) << i;
    EXPECT_EQ(attributes[i], e.sectors[i].attributes) << i;
    EXPECT_EQ(address, e.sectors[i].address) << i;
    address += sizes[i];
  }
  // Long numbers as real devices write them, and a second zone.
  ASSERT_TRUE(ParseMemoryLayout("@Internal Flash  /0x08000000/064*0002Kg/0x1FFF7800/01*512 e", &e));
  ASSERT_EQ(65u, e.sectors.size());
  EXPECT_EQ(0x0801F800u, e.sectors[63].address);
  EXPECT_EQ(0x1FFF7800u, e.sectors[64].address);
  EXPECT_EQ(512u, e.sectors[64].size);
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
  };
  for (const char* text : bad) EXPECT_FALSE(ParseMemoryLayout(text, &e)) << text;
  // The sector bound holds across groups.
  EXPECT_TRUE(ParseMemoryLayout("@F/0x00000000/8192*1Ba", &e));
  EXPECT_FALSE(ParseMemoryLayout("@F/0x00000000/8193*1Ba", &e));
  EXPECT_FALSE(ParseMemoryLayout("@F/0x00000000/4096*1Ba,4097*1Ba", &e));
}
