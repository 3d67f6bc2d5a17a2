# GoogleTest for both targets. Native: Debian's packaged GoogleTest. Windows: built from the
# sources Debian installs under /usr/src/googletest, and every test executable runs under wine
# through CTest's cross-compiling emulator, in a prefix kept inside the build folder.
enable_testing()

if(WIN32)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(OVRA7_GTEST_LIBS GTest::gtest GTest::gmock)
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gmock ALIAS gmock)
  endif()
  set(OVRA7_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  # What every test under wine runs with. Wine turns Windows file names into Unix ones through the
  # locale's character set, so a machine with no UTF-8 locale set (a bare chroot or container)
  # could not make the Chinese folder names the Windows program must handle.
  set(OVRA7_WINE_ENV "WINEDEBUG=-all;LC_ALL=C.UTF-8")
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env;${OVRA7_WINE_ENV};WINEPREFIX=${OVRA7_WINEPREFIX};wine)
else()
  find_package(GTest REQUIRED)
  set(OVRA7_GTEST_LIBS GTest::gtest GTest::gmock)
endif()

# ovra7_add_test(NAME n SOURCES ... LIBS ... [TIMEOUT s])
# One CTest entry per executable: under wine a process start is the expensive part.
function(ovra7_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  ovra7_warnings(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} ovra7_test_main ${OVRA7_GTEST_LIBS} Threads::Threads)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1)
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(WIN32)
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${OVRA7_WINE_ENV};WINEPREFIX=${OVRA7_WINEPREFIX}")
  endif()
endfunction()
