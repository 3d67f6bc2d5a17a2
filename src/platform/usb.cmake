# USB device access for the DFU library: libusb-1.0 on Linux, SetupAPI + WinUSB on Windows
# (winusb.dll loaded at run time). Also the reader's HID channel for the enter-DFU command.
add_library(ovra7_platform_usb STATIC
  usb_host.cpp
  winusb_interfaces.cpp
  reader_usb.cpp
  ${OVRA7_OS}/usb.cpp
  ${OVRA7_OS}/reader_usb.cpp)
target_include_directories(ovra7_platform_usb PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(ovra7_platform_usb PUBLIC ovra7_platform_core Threads::Threads)
if(WIN32)
  target_link_libraries(ovra7_platform_usb PUBLIC setupapi)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(OVRA7_LIBUSB REQUIRED IMPORTED_TARGET libusb-1.0)
  target_link_libraries(ovra7_platform_usb PUBLIC PkgConfig::OVRA7_LIBUSB)
endif()
ovra7_warnings(ovra7_platform_usb)
