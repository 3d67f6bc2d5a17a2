// DFU requests on one device (STDFU_*): open by path, descriptors, configuration, and the
// class requests GETSTATUS, CLRSTATUS, GETSTATE, ABORT, DNLOAD, UPLOAD, DETACH. Portable.
// Every call blocks its caller for at most one control transfer (time-out kDfuRequestTimeoutMs)
// and returns STDFU_NOERROR or a code of dfuse_types.h. A device handle is used by one thread
// at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dfu/dfuse/dfuse_types.h"

// Generous because a status request after an erase can take seconds on real devices.
constexpr int kDfuRequestTimeoutMs = 5000;

// Opens the device behind a DFU interface path (as listed by DfuListInterfaces; letter case
// ignored); nothing is read from it yet, so a device with broken descriptors still opens and
// the calls below report what is wrong. *device is null on failure. The configuration
// descriptor set is read by the first call that needs it (the DFU interface's number, its
// alternates and functional descriptor) and kept; STDFU_DESCRIPTORNOTFOUND when it is
// unreadable or has no DFU interface.
uint32_t STDFU_Open(const char* path, DfuDeviceHandle* device);
// Releases the interface, closes and frees the device; *device becomes null.
uint32_t STDFU_Close(DfuDeviceHandle* device);
// Ours: a moment (platform::NowMs) after which requests on this handle no longer wait. Each
// request's time-out is cut to the time left; once the moment has passed a request fails at once
// with STDFU_REQUESTTIMEOUT without reaching the device, and selecting an alternate setting (whose
// time-out the system fixes at about kDfuRequestTimeoutMs) needs that much time left. 0 (the
// default): no deadline. So a caller on the window's thread bounds a whole exchange with a device
// that has stopped answering.
uint32_t STDFU_SetDeadline(DfuDeviceHandle device, uint64_t atMs);
uint64_t STDFU_GetDeadline(DfuDeviceHandle device);

// The 18-byte device descriptor as the device gives it; STDFU_DESCRIPTORNOTFOUND when it
// cannot be read.
uint32_t STDFU_GetDeviceDescriptor(DfuDeviceHandle device, uint8_t descriptor[18]);
// The DFU interface number, the number of its alternate settings and its 9-byte DFU functional
// descriptor (a 7-byte one from an old device is padded with zeros).
uint32_t STDFU_GetDFUDescriptor(DfuDeviceHandle device, uint32_t* interfaceNumber,
                                uint32_t* alternateCount, uint8_t descriptor[9]);
// Alternate setting number and interface string index of the DFU interface's alternate
// `index` (0 to alternateCount - 1), in descriptor order.
uint32_t STDFU_GetAlternate(DfuDeviceHandle device, uint32_t index, uint8_t* alternate,
                            uint8_t* nameIndex);
// String descriptor text (UTF-8).
uint32_t STDFU_GetStringDescriptor(DfuDeviceHandle device, uint32_t index, std::string* text);
// Claims the DFU interface and selects `alternate`. Configuration and interface are indexes
// (only 0 exists on the devices this serves).
uint32_t STDFU_SelectCurrentConfiguration(DfuDeviceHandle device, uint32_t configuration,
                                          uint32_t interfaceIndex, uint32_t alternate);

uint32_t STDFU_Getstatus(DfuDeviceHandle device, DfuStatus* status);
uint32_t STDFU_Clrstatus(DfuDeviceHandle device);
uint32_t STDFU_Getstate(DfuDeviceHandle device, uint8_t* state);
uint32_t STDFU_Abort(DfuDeviceHandle device);
uint32_t STDFU_Detach(DfuDeviceHandle device, uint16_t timeoutMs);
// DFU_DNLOAD of `length` bytes (0 allowed) as block `block`.
uint32_t STDFU_Dnload(DfuDeviceHandle device, const uint8_t* buffer, uint32_t length,
                      uint16_t block);
// DFU_UPLOAD of up to `length` bytes as block `block`; *received (optional) gets the count.
uint32_t STDFU_Upload(DfuDeviceHandle device, uint8_t* buffer, uint32_t length, uint16_t block,
                      uint32_t* received = nullptr);

// A DFU interface found on the system.
struct DfuInterfaceEntry {
  std::string path;         // ends with the class identifier in braces
  std::string description;  // "" when the device gives none
};

// The present DFU interfaces of one class (kDfuInterfaceClassA or B), in system order. False
// when the system's list cannot be had.
bool DfuListInterfaces(const Guid& interfaceClass, std::vector<DfuInterfaceEntry>* out);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hex.
std::string DfuGuidText(const Guid& guid);
