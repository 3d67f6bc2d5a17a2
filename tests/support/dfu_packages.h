// Building .dfu packages and test patterns for the flashing tests. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dfu/dfuse/dfu_file_format.h"

namespace testsupport {

// `size` bytes of a pattern that differs for every seed and has no 0xFF runs.
std::vector<uint8_t> Pattern(size_t size, uint32_t seed);
// One image for `alternate` with one element of `data` at `address`.
DfuImageData OneElementImage(uint8_t alternate, uint32_t address, std::vector<uint8_t> data,
                             const std::string& name = "Internal Flash");
// Writes `file` to `path`; false when it cannot be written.
bool WritePackage(const std::string& path, const DfuFileData& file);
bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace testsupport
