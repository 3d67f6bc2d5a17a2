# Serial port, sockets, clock, thread start, per-user temporary folder, the serial link's code
# page: what the relay and the log need.
add_library(ovra7_platform_core STATIC
  app_data.cpp
  clock.cpp
  ${OVRA7_OS}/app_data.cpp
  ${OVRA7_OS}/code_page_936.cpp
  ${OVRA7_OS}/paths.cpp
  ${OVRA7_OS}/serial.cpp
  ${OVRA7_OS}/socket.cpp
  ${OVRA7_OS}/thread_name.cpp
  ${OVRA7_OS}/wake_signal.cpp
  port_names.cpp
  thread_start.cpp)
target_include_directories(ovra7_platform_core PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(ovra7_platform_core PUBLIC Threads::Threads)
if(WIN32)
  target_link_libraries(ovra7_platform_core PUBLIC ws2_32 shell32)
  target_compile_definitions(ovra7_platform_core PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN
                             NOMINMAX _WIN32_WINNT=0x0601)
endif()
ovra7_warnings(ovra7_platform_core)
