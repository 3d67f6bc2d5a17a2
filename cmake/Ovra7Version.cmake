# The product version lives once, in project(VERSION ...). This writes it into a header that C++
# code and the Windows version resource include (target ovra7_version); the installers read
# PROJECT_VERSION directly.
if(NOT PROJECT_VERSION_TWEAK)
  message(FATAL_ERROR "project(VERSION) needs four numbers, as the Windows version resource has")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/ovra7_version.h.in
               ${CMAKE_BINARY_DIR}/generated/ovra7_version.h @ONLY)
add_library(ovra7_version INTERFACE)
target_include_directories(ovra7_version INTERFACE ${CMAKE_BINARY_DIR}/generated)
