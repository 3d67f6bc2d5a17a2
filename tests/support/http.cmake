# The loopback HTTP/HTTPS package servers: a Python script that runs beside each HTTP test
# executable, and the test-side helper that talks to it.
add_library(ovra7_support_http STATIC http_server.cpp)
target_link_libraries(ovra7_support_http PUBLIC ovra7_platform_core)
target_include_directories(ovra7_support_http PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
ovra7_warnings(ovra7_support_http)

find_program(OVRA7_PYTHON3 NAMES python3 REQUIRED)
set(OVRA7_HTTP_SERVER_SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/http_server.py CACHE INTERNAL "")

# ovra7_add_http_test(NAME n SOURCES ... LIBS ... [TIMEOUT s]): like ovra7_add_test, with the
# servers started around the executable (natively or under wine).
function(ovra7_add_http_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  ovra7_warnings(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} ovra7_support_http ovra7_test_main
                        ${OVRA7_GTEST_LIBS} Threads::Threads)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(runner)
  if(WIN32)
    set(runner ${CMAKE_CROSSCOMPILING_EMULATOR})
  endif()
  add_test(NAME ${T_NAME}
           COMMAND ${OVRA7_PYTHON3} ${OVRA7_HTTP_SERVER_SCRIPT} --run -- ${runner}
                   $<TARGET_FILE:${T_NAME}> --gtest_brief=1)
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(WIN32)
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${OVRA7_WINE_ENV};WINEPREFIX=${OVRA7_WINEPREFIX}")
  endif()
endfunction()
