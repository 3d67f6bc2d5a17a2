// Memory mapping and background operations (STDFUPRT_*). Portable.
// CreateMappingFromDevice blocks its caller for one string request per alternate setting (and
// the configuration descriptor).
// LaunchOperation returns at once; the operation runs on a worker thread of its own, polled by
// GetOperationStatus (never blocks) and ended by StopOperation (blocks until the worker ends:
// at once when it has finished, else within about 20 ms plus one control transfer). Results are
// STDFU_NOERROR or STDFUPRT_* codes; an operation's own failure is its context's errorCode.
#pragma once

#include <cstdint>

#include "dfu/dfuse/dfuse_types.h"

// One entry per alternate setting of the device's DFU interface, in alternate order, decoded
// from the interfaces' string descriptors. STDFUPRT_OPENERROR when the device cannot be
// opened, STDFUPRT_MAPPINGERROR when a description is missing or does not decode. The caller
// owns *mapping (DestroyMapping).
uint32_t STDFUPRT_CreateMappingFromDevice(const char* path, DfuMappingEntry** mapping,
                                          uint32_t* targetCount);
// The same through a device the caller already holds open (and keeps open). WinUSB refuses a
// second open of a device, so a caller that holds the device must map it this way.
uint32_t STDFUPRT_CreateMappingFromOpenDevice(DfuDeviceHandle device, DfuMappingEntry** mapping,
                                              uint32_t* targetCount);
uint32_t STDFUPRT_DestroyMapping(DfuMappingEntry** mapping);

// Starts context->operation on context->devicePath with context->image, which must have been
// filtered for that operation (STDFUFILES_FilterImageForOperation; that names the target).
// The context is copied; the image stays the caller's but the operation reads it (upload:
// writes the read bytes into its elements) until StopOperation returns.
//   erase:    the DfuSe erase command for every erasable sector an element touches.
//   download: set address, then blocks of the device's wTransferSize from block 2.
//   upload:   the elements' bytes read back into the image.
//   leave:    set address to the target's start, zero-length download, manifestation.
//   detach:   DFU_DETACH with the device's detach time-out.
// Errors in the context: STDFUPRT_UNSUPPORTED (0x1234500D) when the device lacks the command
// or ability the operation needs; see dfuse_types.h for the rest.
// STDFUPRT_NOTHREAD (and *handle 0) when the system cannot start the worker thread: nothing
// was sent to the device.
uint32_t STDFUPRT_LaunchOperation(OperationContext* context, DfuOperationHandle* handle);
// The operation's state so far: operation, image, percent (100 once it succeeded), errorCode.
uint32_t STDFUPRT_GetOperationStatus(DfuOperationHandle handle, OperationContext* context);
// Ends the operation (asking a running one to stop), fills *context (may be null) with its
// final state and forgets the handle.
uint32_t STDFUPRT_StopOperation(DfuOperationHandle handle, OperationContext* context);
