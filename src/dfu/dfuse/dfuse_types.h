// Types and result codes shared by the DFU library's three call families (STDFU_*, device
// requests; STDFUFILES_*, .dfu files and images; STDFUPRT_*, mapping and background
// operations). Portable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Every call returns STDFU_NOERROR on success, one of the codes below otherwise.
constexpr uint32_t STDFU_NOERROR = 0x12340000;

// Device requests (STDFU_*).
constexpr uint32_t STDFU_BADPARAMETER = 0x12340001;        // null handle or buffer, bad length
constexpr uint32_t STDFU_OPENDRIVERERROR = 0x12340002;     // no device behind the path, or busy
constexpr uint32_t STDFU_DESCRIPTORNOTFOUND = 0x12340003;  // no DFU interface or descriptor
constexpr uint32_t STDFU_CONFIGURATIONERROR = 0x12340004;  // claim or alternate setting refused
constexpr uint32_t STDFU_REQUESTSTALLED = 0x12340005;      // the device stalled the request
constexpr uint32_t STDFU_REQUESTTIMEOUT = 0x12340006;      // no answer within the time-out
constexpr uint32_t STDFU_DEVICELOST = 0x12340007;          // the device is gone (unplug, reset)
constexpr uint32_t STDFU_REQUESTERROR = 0x12340008;        // any other transfer failure

// .dfu files and images (STDFUFILES_*).
constexpr uint32_t STDFUFILES_BADPARAMETER = 0x12340011;     // null handle or buffer, bad index
constexpr uint32_t STDFUFILES_FILEOPENERROR = 0x12340012;    // the file cannot be read or written
constexpr uint32_t STDFUFILES_BADFORMAT = 0x12340013;        // prefix, sizes, suffix or CRC wrong
constexpr uint32_t STDFUFILES_ELEMENTOUTOFMAP = 0x12340014;  // element outside usable sectors
constexpr uint32_t STDFUFILES_NOTENOUGHDATA = 0x12340015;    // element shorter than asked for

// Mapping and operations (STDFUPRT_*); these are also the operation error codes.
constexpr uint32_t STDFUPRT_BADPARAMETER = 0x12345001;     // null context, handle or image
constexpr uint32_t STDFUPRT_OPENERROR = 0x12345002;        // the device cannot be opened
constexpr uint32_t STDFUPRT_MAPPINGERROR = 0x12345003;     // no mapping decodes from the device
constexpr uint32_t STDFUPRT_REQUESTFAILED = 0x12345004;    // a transfer failed (after retries)
constexpr uint32_t STDFUPRT_DEVICEERROR = 0x12345005;      // the device reported dfuERROR
constexpr uint32_t STDFUPRT_UNEXPECTEDSTATE = 0x12345006;  // a state the step does not allow
constexpr uint32_t STDFUPRT_BUSYTIMEOUT = 0x12345007;      // the device stayed busy too long
constexpr uint32_t STDFUPRT_DEVICELOST = 0x12345008;       // unplugged during the operation
constexpr uint32_t STDFUPRT_STOPPED = 0x12345009;          // stopped before it finished
constexpr uint32_t STDFUPRT_ADDRESSOUTOFMAP = 0x1234500A;  // an element outside the mapping
constexpr uint32_t STDFUPRT_SHORTUPLOAD = 0x1234500B;      // the device sent less than asked
constexpr uint32_t STDFUPRT_NOTIDLE = 0x1234500C;          // the device would not become idle
constexpr uint32_t STDFUPRT_UNSUPPORTED = 0x1234500D;      // the firmware lacks the feature
constexpr uint32_t STDFUPRT_BADHANDLE = 0x1234500E;        // unknown operation handle
constexpr uint32_t STDFUPRT_NOTHREAD = 0x1234500F;         // the system refused a worker thread
constexpr uint32_t STDFUPRT_NOANSWER = 0x12345010;         // no answer within the time allowed

// A 128-bit interface class identifier.
struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

// The two interface classes of DFU interfaces: A for devices in DFU mode (class 0xFE,
// subclass 1, protocol 2), B for run-time interfaces (protocol 1).
constexpr Guid kDfuInterfaceClassA = {
    0x3FE809AB, 0xFB91, 0x4CB5, {0xA6, 0x43, 0x69, 0x67, 0x0D, 0x52, 0x36, 0x6E}};
constexpr Guid kDfuInterfaceClassB = {
    0xCB979912, 0x5029, 0x420A, {0xAE, 0xB1, 0x34, 0xFC, 0x0A, 0x7D, 0x57, 0x26}};

// Sector attribute bits of a mapping.
constexpr uint8_t kSectorReadable = 0x01;
constexpr uint8_t kSectorErasable = 0x02;
constexpr uint8_t kSectorWriteable = 0x04;

struct DfuSector {
  uint32_t address;
  uint32_t size;
  uint8_t attributes;
};

// One target (alternate setting) of a device: its name as the device gives it (padding spaces
// kept) and its sectors in address order of the description.
struct DfuMappingEntry {
  uint8_t alternate = 0;
  std::string name;
  uint32_t sectorCount = 0;  // == sectors.size()
  std::vector<DfuSector> sectors;
};

// The 6-byte reply of DFU_GETSTATUS.
struct DfuStatus {
  uint8_t bStatus;
  uint8_t bwPollTimeout[3];
  uint8_t bState;
  uint8_t iString;
};

inline uint32_t DfuPollTimeoutMs(const DfuStatus& s) {
  return s.bwPollTimeout[0] | (s.bwPollTimeout[1] << 8) | (s.bwPollTimeout[2] << 16);
}

// Device states (bState).
enum DfuState : uint8_t {
  kAppIdle = 0,
  kAppDetach = 1,
  kDfuIdle = 2,
  kDfuDnloadSync = 3,
  kDfuDnBusy = 4,
  kDfuDnloadIdle = 5,
  kDfuManifestSync = 6,
  kDfuManifest = 7,
  kDfuManifestWaitReset = 8,
  kDfuUploadIdle = 9,
  kDfuError = 10,
};

// Operation codes of OperationContext::operation.
enum DfuOperation : uint32_t {
  kOperationDetach = 0,
  kOperationLeave = 1,
  kOperationUpload = 2,
  kOperationErase = 3,
  kOperationDownload = 4,
};

// Opaque handles; null (or 0) means none.
struct DfuDevice;
struct DfuFile;
struct DfuImage;
using DfuDeviceHandle = DfuDevice*;
using DfuFileHandle = DfuFile*;
using DfuImageHandle = DfuImage*;
using DfuOperationHandle = uintptr_t;

// The record handed to the background operations.
struct OperationContext {
  Guid InterfaceClassA = kDfuInterfaceClassA;
  Guid InterfaceClassB = kDfuInterfaceClassB;
  uint32_t operation = kOperationErase;
  uint32_t flag = 0;                   // reserved, always 0
  DfuImageHandle image = nullptr;      // caller's; the operation reads (upload: fills) it
  char devicePath[260] = {};           // as found by the discovery, any letter case
  uint8_t percent = 0;                 // 0 to 100; 100 only when the operation succeeded
  uint32_t errorCode = STDFU_NOERROR;  // STDFUPRT_* code once the operation failed
  uint32_t lastStatus = 0;             // ours: the device's bStatus of the failure, if any
  uint32_t lastState = 0;              // ours: the device's bState of the failure, if any
};
