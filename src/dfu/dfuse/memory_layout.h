// The memory layout an alternate setting gives as its interface string,
// "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg": name, then one or more zones of a
// start address and groups of count x size with a unit (B, K, M or a space for bytes) and a
// type letter a to g (bit 0 readable, bit 1 erasable, bit 2 writeable). Pure, portable.
#pragma once

#include <cstdint>
#include <string>

#include "dfu/dfuse/dfuse_types.h"

// Sectors a single description may declare (real parts have at most a few thousand); more is
// refused rather than allocated.
constexpr uint32_t kMaxSectorsPerTarget = 8192;

// Decodes `text` into *out (name with its spaces, sectors in order; the alternate is left to the
// caller). False when the text breaks the grammar, a number overflows, or the sectors would
// run past the 32-bit address space or exceed kMaxSectorsPerTarget.
bool ParseMemoryLayout(const std::string& text, DfuMappingEntry* out);
