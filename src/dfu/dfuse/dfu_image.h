// The inside of an image handle, shared by the file calls and the operations. Portable.
#pragma once

#include "dfu/dfuse/dfu_file_format.h"
#include "dfu/dfuse/dfuse_types.h"

struct DfuImage {
  DfuImageData data;
  // Set by STDFUFILES_FilterImageForOperation.
  bool filtered = false;
  uint32_t filterOperation = 0;
  uint32_t filterResult = 0;
  DfuMappingEntry target;
};
