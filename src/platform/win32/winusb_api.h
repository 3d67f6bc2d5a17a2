// The WinUSB calls the Windows USB backend uses, as a table filled from winusb.dll at run time
// (wine ships only a stub that ends the process when called, so tests fill it with a mock).
#pragma once

#include <windows.h>
#include <winusb.h>

#include <memory>

#include "platform/usb.h"

namespace platform {

struct WinUsbApi {
  BOOL(WINAPI* Initialize)(HANDLE file, PWINUSB_INTERFACE_HANDLE out);
  BOOL(WINAPI* Free)(WINUSB_INTERFACE_HANDLE handle);
  BOOL(WINAPI* GetDescriptor)
  (WINUSB_INTERFACE_HANDLE handle, UCHAR type, UCHAR index, USHORT language, PUCHAR buffer,
   ULONG length, PULONG transferred);
  BOOL(WINAPI* SetCurrentAlternateSetting)(WINUSB_INTERFACE_HANDLE handle, UCHAR alternate);
  BOOL(WINAPI* SetPipePolicy)
  (WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, ULONG policy, ULONG length, PVOID value);
  BOOL(WINAPI* ControlTransfer)
  (WINUSB_INTERFACE_HANDLE handle, WINUSB_SETUP_PACKET setup, PUCHAR buffer, ULONG length,
   PULONG transferred, LPOVERLAPPED overlapped);
};

// Fills *api from winusb.dll (loaded once, kept for the process). False when the library or a
// call is missing.
bool LoadWinUsbApi(WinUsbApi* api);

// Wraps an opened device file in a UsbDevice driven through `api`; the device owns `file` and
// closes it (and frees the WinUSB handle) when destroyed, also when the result is a failure.
int OpenWinUsbDevice(const WinUsbApi& api, HANDLE file, std::unique_ptr<UsbDevice>* out);

}  // namespace platform
