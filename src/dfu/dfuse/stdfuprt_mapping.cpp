// The memory mapping of a DFU device, one entry per alternate setting. Portable.
#include <memory>

#include "dfu/dfuse/memory_layout.h"
#include "dfu/dfuse/stdfu.h"
#include "dfu/dfuse/stdfuprt.h"

uint32_t STDFUPRT_CreateMappingFromDevice(const char* path, DfuMappingEntry** mapping,
                                          uint32_t* targetCount) {
  if (!path || !mapping || !targetCount) return STDFUPRT_BADPARAMETER;
  *mapping = nullptr;
  *targetCount = 0;
  DfuDeviceHandle device = nullptr;
  if (STDFU_Open(path, &device) != STDFU_NOERROR) return STDFUPRT_OPENERROR;
  uint32_t number = 0, count = 0;
  uint8_t functional[9];
  uint32_t result = STDFU_NOERROR;
  if (STDFU_GetDFUDescriptor(device, &number, &count, functional) != STDFU_NOERROR || count == 0 ||
      count > 256)
    result = STDFUPRT_MAPPINGERROR;
  std::unique_ptr<DfuMappingEntry[]> entries(result == STDFU_NOERROR ? new DfuMappingEntry[count]
                                                                     : nullptr);
  // Alternate i of the interface descriptor order is entry i.
  for (uint32_t i = 0; result == STDFU_NOERROR && i < count; ++i) {
    std::string text;
    uint8_t alternate = 0, nameIndex = 0;
    if (STDFU_GetAlternate(device, i, &alternate, &nameIndex) != STDFU_NOERROR || nameIndex == 0 ||
        STDFU_GetStringDescriptor(device, nameIndex, &text) != STDFU_NOERROR ||
        !ParseMemoryLayout(text, &entries[i])) {
      result = STDFUPRT_MAPPINGERROR;
      break;
    }
    entries[i].alternate = alternate;
  }
  STDFU_Close(&device);
  if (result != STDFU_NOERROR) return result;
  *mapping = entries.release();
  *targetCount = count;
  return STDFU_NOERROR;
}

uint32_t STDFUPRT_DestroyMapping(DfuMappingEntry** mapping) {
  if (!mapping || !*mapping) return STDFUPRT_BADPARAMETER;
  delete[] * mapping;
  *mapping = nullptr;
  return STDFU_NOERROR;
}
