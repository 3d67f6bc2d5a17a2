# Desktop abilities of the tray program: settings file, autostart, device listing, device and
# power events, single instance and control channel, the executable's own facts.
add_library(ovra7_platform_desktop STATIC
  ${CMAKE_CURRENT_LIST_DIR}/control_protocol.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ini_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/${OVRA7_OS}/autostart.cpp
  ${CMAKE_CURRENT_LIST_DIR}/${OVRA7_OS}/desktop_events.cpp
  ${CMAKE_CURRENT_LIST_DIR}/${OVRA7_OS}/device_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/${OVRA7_OS}/executable.cpp
  ${CMAKE_CURRENT_LIST_DIR}/${OVRA7_OS}/session_end.cpp
  ${CMAKE_CURRENT_LIST_DIR}/${OVRA7_OS}/settings_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/${OVRA7_OS}/single_instance.cpp)
target_include_directories(ovra7_platform_desktop PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(ovra7_platform_desktop PUBLIC ovra7_platform_core Threads::Threads)
if(WIN32)
  target_link_libraries(ovra7_platform_desktop PUBLIC setupapi advapi32 version user32)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(OVRA7_UDEV REQUIRED IMPORTED_TARGET libudev)
  pkg_check_modules(OVRA7_SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)
  target_link_libraries(ovra7_platform_desktop PRIVATE PkgConfig::OVRA7_UDEV PkgConfig::OVRA7_SYSTEMD
                                                       ovra7_version)
endif()
ovra7_warnings(ovra7_platform_desktop)
