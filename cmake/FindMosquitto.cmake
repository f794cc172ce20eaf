# Finds the MQTT client library (libmosquitto) and provides it as the imported
# target Mosquitto::mosquitto, under the same name in both builds:
#  - Windows builds: the static library that scripts/build-mosquitto-mingw.sh
#    builds into <cache>/<arch>/mosquitto (cmake/VdDepsCache.cmake;
#    VD_MOSQUITTO_PREFIX overrides the place). Its users need
#    LIBMOSQUITTO_STATIC, Winsock, the threads library and OpenSSL
#    (OpenSSL::SSL, OpenSSL::Crypto of cmake/VdOpenSSL.cmake); the target
#    carries them, and is not made without OpenSSL.
#  - Host build: Debian's libmosquitto-dev, through pkg-config.
# Sets Mosquitto_FOUND and Mosquitto_VERSION.

if(TARGET Mosquitto::mosquitto)
  set(Mosquitto_FOUND TRUE)
  return()
endif()

if(WIN32)
  include(VdDepsCache)
  include(VdOpenSSL)
  set(VD_MOSQUITTO_PREFIX "${VD_DEPS_CACHE}/${CMAKE_SYSTEM_PROCESSOR}/mosquitto"
      CACHE PATH "Prefix holding the MinGW build of libmosquitto")
  # The prefix lies outside the cross compiler's root: search it as it is.
  find_path(Mosquitto_INCLUDE_DIR mosquitto.h
            PATHS "${VD_MOSQUITTO_PREFIX}/include" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_library(Mosquitto_LIBRARY NAMES mosquitto_static
               PATHS "${VD_MOSQUITTO_PREFIX}/lib" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
else()
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(PC_Mosquitto QUIET libmosquitto)
  endif()
  find_path(Mosquitto_INCLUDE_DIR mosquitto.h HINTS ${PC_Mosquitto_INCLUDE_DIRS})
  find_library(Mosquitto_LIBRARY NAMES mosquitto HINTS ${PC_Mosquitto_LIBRARY_DIRS})
endif()

if(Mosquitto_INCLUDE_DIR AND EXISTS "${Mosquitto_INCLUDE_DIR}/mosquitto.h")
  file(STRINGS "${Mosquitto_INCLUDE_DIR}/mosquitto.h" version_lines
       REGEX "^#define LIBMOSQUITTO_(MAJOR|MINOR|REVISION) [0-9]+")
  foreach(part MAJOR MINOR REVISION)
    string(REGEX REPLACE ".*#define LIBMOSQUITTO_${part} ([0-9]+).*" "\\1"
           Mosquitto_VERSION_${part} "${version_lines}")
  endforeach()
  set(Mosquitto_VERSION
      "${Mosquitto_VERSION_MAJOR}.${Mosquitto_VERSION_MINOR}.${Mosquitto_VERSION_REVISION}")
  unset(version_lines)
endif()

set(Mosquitto_required Mosquitto_LIBRARY Mosquitto_INCLUDE_DIR)
if(WIN32)
  list(APPEND Mosquitto_required OpenSSL_FOUND)
endif()
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Mosquitto
  REQUIRED_VARS ${Mosquitto_required}
  VERSION_VAR Mosquitto_VERSION)
unset(Mosquitto_required)
mark_as_advanced(Mosquitto_INCLUDE_DIR Mosquitto_LIBRARY)

if(Mosquitto_FOUND)
  add_library(Mosquitto::mosquitto UNKNOWN IMPORTED GLOBAL)
  set_target_properties(Mosquitto::mosquitto PROPERTIES
    IMPORTED_LOCATION "${Mosquitto_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${Mosquitto_INCLUDE_DIR}")
  if(WIN32)
    find_package(Threads REQUIRED)
    set_target_properties(Mosquitto::mosquitto PROPERTIES
      INTERFACE_COMPILE_DEFINITIONS LIBMOSQUITTO_STATIC
      INTERFACE_LINK_LIBRARIES "OpenSSL::SSL;OpenSSL::Crypto;ws2_32;Threads::Threads")
  endif()
endif()
