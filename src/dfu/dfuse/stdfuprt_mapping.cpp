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
  uint32_t result = STDFUPRT_CreateMappingFromOpenDevice(device, mapping, targetCount);
  STDFU_Close(&device);
  return result;
}

uint32_t STDFUPRT_CreateMappingFromOpenDevice(DfuDeviceHandle device, DfuMappingEntry** mapping,
                                              uint32_t* targetCount) {
  if (!device || !mapping || !targetCount) return STDFUPRT_BADPARAMETER;
  *mapping = nullptr;
  *targetCount = 0;
  uint32_t number = 0, count = 0;
  uint8_t functional[9];
  if (STDFU_GetDFUDescriptor(device, &number, &count, functional) != STDFU_NOERROR || count == 0 ||
      count > 256)
    return STDFUPRT_MAPPINGERROR;
  std::unique_ptr<DfuMappingEntry[]> entries(new DfuMappingEntry[count]);
  // Alternate i of the interface descriptor order is entry i.
  for (uint32_t i = 0; i < count; ++i) {
    std::string text;
    uint8_t alternate = 0, nameIndex = 0;
    if (STDFU_GetAlternate(device, i, &alternate, &nameIndex) != STDFU_NOERROR || nameIndex == 0 ||
        STDFU_GetStringDescriptor(device, nameIndex, &text) != STDFU_NOERROR ||
        !ParseMemoryLayout(text, &entries[i]))
      return STDFUPRT_MAPPINGERROR;
    entries[i].alternate = alternate;
  }
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
