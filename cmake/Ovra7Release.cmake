# What the installers say about the release, in one place. The version and its date are set
# beside project() in the top CMakeLists.txt; everything dated in the packages (the driver
# package's DriverVer, the Debian changelog, the copyright year, the AppStream release) follows
# OVRA7_RELEASE_DATE, never the clock, so a rebuild of a release gives the same files and a
# driver catalog signed once stays valid.
if(NOT OVRA7_RELEASE_DATE MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
  message(FATAL_ERROR "OVRA7_RELEASE_DATE must be YYYY-MM-DD, not '${OVRA7_RELEASE_DATE}'")
endif()
set(OVRA7_RELEASE_YEAR ${CMAKE_MATCH_1})
set(OVRA7_RELEASE_MONTH ${CMAKE_MATCH_2})
set(OVRA7_RELEASE_DAY ${CMAKE_MATCH_3})
# DriverVer wants mm/dd/yyyy.
set(OVRA7_RELEASE_DATE_INF "${OVRA7_RELEASE_MONTH}/${OVRA7_RELEASE_DAY}/${OVRA7_RELEASE_YEAR}")

# The Debian changelog wants an RFC 2822 date, weekday included. string(TIMESTAMP) formats a
# given moment only through SOURCE_DATE_EPOCH, so the date's seconds since 1970 are computed
# here (days from the civil calendar, March-based years) and handed to it for this one call.
math(EXPR y "${OVRA7_RELEASE_YEAR}")
math(EXPR m "${OVRA7_RELEASE_MONTH}")
math(EXPR d "${OVRA7_RELEASE_DAY}")
if(m LESS_EQUAL 2)
  math(EXPR y "${y} - 1")
  math(EXPR m "${m} + 9")
else()
  math(EXPR m "${m} - 3")
endif()
math(EXPR days "${y} * 365 + ${y} / 4 - ${y} / 100 + ${y} / 400 + (153 * ${m} + 2) / 5 + ${d} - 1 - 719468")
math(EXPR OVRA7_RELEASE_EPOCH "${days} * 86400")
set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${OVRA7_RELEASE_EPOCH})
string(TIMESTAMP OVRA7_RELEASE_DATE_RFC2822 "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP check "%Y-%m-%d" UTC)
if(saved_epoch STREQUAL "")
  unset(ENV{SOURCE_DATE_EPOCH})
else()
  set(ENV{SOURCE_DATE_EPOCH} "${saved_epoch}")
endif()
if(NOT check STREQUAL OVRA7_RELEASE_DATE)
  message(FATAL_ERROR "OVRA7_RELEASE_DATE ${OVRA7_RELEASE_DATE} is not a date of the calendar")
endif()

# Who makes it and where users read about it: the Debian package's Maintainer and Homepage, the
# Windows uninstall entry's links, the AppStream file.
set(OVRA7_PUBLISHER "Ovra7")
set(OVRA7_HOMEPAGE "https://cardserver.cn/ovra7/")
set(OVRA7_PACKAGE_MAINTAINER "Ovra7 Server maintainers <ovra7server@cardserver.cn>")
# The AppStream component id: reverse DNS of the homepage's domain, fixed once published.
set(OVRA7_APPSTREAM_ID "cn.cardserver.ovra7server")
# The Debian revision of this packaging of the release: raise it when only the packaging
# changes, back to 1 with a new version.
set(OVRA7_DEBIAN_REVISION 1)
set(OVRA7_DEBIAN_VERSION "${PROJECT_VERSION}-${OVRA7_DEBIAN_REVISION}")
# The package's architecture is the one dpkg builds for on this machine; the file name is
# Debian's (name_version_arch.deb, as CPack makes it), which the package tests are handed.
if(NOT WIN32)
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE OVRA7_DEB_ARCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
  if(failed OR NOT OVRA7_DEB_ARCH)
    message(STATUS "dpkg not found: no Debian package")
    set(OVRA7_DEB_ARCH "")
  endif()
  set(OVRA7_DEB_FILE_NAME "ovra7server_${OVRA7_DEBIAN_VERSION}_${OVRA7_DEB_ARCH}.deb")
endif()

# The Windows driver package's catalog, signed, made from this release's INF (the README's
# signing section tells how). Without it the installer carries an unsigned driver package.
if(WIN32)
  set(OVRA7_DRIVER_CATALOG "" CACHE FILEPATH
      "The signed catalog ovra7-dfu-winusb.cat made from this release's INF; empty: unsigned")
endif()

# The USB ids of the reader in DFU mode, as vendor:product in lower case. One list for the
# Windows driver package's INF, the udev rules and the man page. After its enter-DFU command
# the reader restarts into the STM32 system boot loader, whose id is the generic 0483:df11. The
# reader's own 0483:a19b is its HID interface in normal operation (the enter-DFU command goes
# there), not a DFU device: binding WinUSB to it would take that interface from Windows' HID
# driver, so it is not in this list.
set(OVRA7_DFU_MODE_IDS "0483:df11")
