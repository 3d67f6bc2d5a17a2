# Doubles for the flashing code: a simulated DFU device and USB bus, a simulated HID reader.
add_library(ovra7_test_dfu STATIC
  ${CMAKE_CURRENT_LIST_DIR}/sim_dfu_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sim_hid_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dfu_packages.cpp)
target_include_directories(ovra7_test_dfu PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(ovra7_test_dfu PUBLIC ovra7_dfuse ovra7_platform_usb ovra7_platform_core)
ovra7_warnings(ovra7_test_dfu)

# The recorder of a whole flash on the simulated device, for the libusb backend's umockdev test.
add_executable(dfu_flash_trace ${CMAKE_CURRENT_LIST_DIR}/dfu_flash_trace.cpp)
target_link_libraries(dfu_flash_trace PRIVATE ovra7_test_dfu ovra7_dfu ovra7_ui_headless)
ovra7_warnings(dfu_flash_trace)
