# The serial cable, the simulated reader and the loopback card server.
add_library(ovra7_support_reader STATIC serial_cable.cpp simulated_reader.cpp card_server.cpp)
target_include_directories(ovra7_support_reader PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(ovra7_support_reader PUBLIC ovra7_relay ovra7_platform_core Threads::Threads)
ovra7_warnings(ovra7_support_reader)
