# Hardening of what users install, for every target of the build (the libraries end up in the
# programs, so they need it as much).
# Linux: the flags Debian builds its own packages with, from dpkg-buildflags with every hardening
# feature on, plus -fstack-clash-protection and -fcf-protection, which dpkg-buildflags gives on
# amd64 only from dpkg 1.22 (Debian 13); Debian 12's compiler has both. Optimisation and debug
# flags stay the build type's; the file-prefix map is left out, as the build tree is where the
# debug symbols of the package point.
# Windows: the stack protector, and the PE flags for ASLR and DEP set explicitly, as linkers
# before binutils 2.36 left them out and a plain -static link must not depend on the default.
# The sanitizer and fuzzing builds are not what users install and keep their own flags.
include(CheckCXXCompilerFlag)

if(CMAKE_CXX_FLAGS MATCHES "sanitize")
  return()
endif()

if(WIN32)
  add_compile_options(-fstack-protector-strong)
  add_link_options(-fstack-protector-strong LINKER:--dynamicbase,--high-entropy-va,--nxcompat,--tsaware)
  return()
endif()

find_program(OVRA7_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT OVRA7_DPKG_BUILDFLAGS)
  message(STATUS "dpkg-buildflags not found: the build is not hardened as Debian packages are")
  return()
endif()

function(ovra7_dpkg_flags kind out)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                          ${OVRA7_DPKG_BUILDFLAGS} --get ${kind}
                  OUTPUT_VARIABLE text OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed")
  endif()
  separate_arguments(flags UNIX_COMMAND "${text}")
  list(FILTER flags EXCLUDE REGEX "^-g$|^-O[0-9s]?$|^-f(file|debug|macro)-prefix-map=")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

ovra7_dpkg_flags(CPPFLAGS cpp_flags)
ovra7_dpkg_flags(CXXFLAGS cxx_flags)
ovra7_dpkg_flags(LDFLAGS ld_flags)
foreach(flag -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "OVRA7_HAS${flag}" has)
  check_cxx_compiler_flag(${flag} ${has})
  if(${has} AND NOT flag IN_LIST cxx_flags)
    list(APPEND cxx_flags ${flag})
  endif()
endforeach()
# The preset may define _FORTIFY_SOURCE already; the same definition twice is no error.
set(OVRA7_HARDENING_COMPILE_FLAGS ${cpp_flags} ${cxx_flags})
add_compile_options(${OVRA7_HARDENING_COMPILE_FLAGS})
add_link_options(${ld_flags})
message(STATUS "Hardening (dpkg-buildflags): ${OVRA7_HARDENING_COMPILE_FLAGS} ${ld_flags}")
