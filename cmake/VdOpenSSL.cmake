# Provides the TLS library as the imported targets OpenSSL::SSL and
# OpenSSL::Crypto, under the same names in every build:
#  - Windows builds: the static OpenSSL that scripts/build-openssl-mingw.sh
#    builds into <cache>/<arch>/openssl (cmake/VdDepsCache.cmake;
#    VD_OPENSSL_PREFIX overrides the place). OpenSSL::Crypto carries the
#    Windows libraries a static libcrypto needs.
#  - Host build: Debian's libssl-dev, through CMake's FindOpenSSL.
# Sets OpenSSL_FOUND and OPENSSL_VERSION.
include_guard(GLOBAL)

if(NOT WIN32)
  find_package(OpenSSL)
  return()
endif()

include(VdDepsCache)
set(VD_OPENSSL_PREFIX "${VD_DEPS_CACHE}/${CMAKE_SYSTEM_PROCESSOR}/openssl"
    CACHE PATH "Prefix holding the MinGW build of OpenSSL")
# The prefix lies outside the cross compiler's root: search it as it is,
# and only there (never a DLL build elsewhere).
find_path(VD_OPENSSL_INCLUDE_DIR openssl/ssl.h
          PATHS "${VD_OPENSSL_PREFIX}/include" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_library(VD_OPENSSL_SSL_LIBRARY NAMES libssl.a
             PATHS "${VD_OPENSSL_PREFIX}/lib" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_library(VD_OPENSSL_CRYPTO_LIBRARY NAMES libcrypto.a
             PATHS "${VD_OPENSSL_PREFIX}/lib" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
mark_as_advanced(VD_OPENSSL_INCLUDE_DIR VD_OPENSSL_SSL_LIBRARY VD_OPENSSL_CRYPTO_LIBRARY)

unset(OPENSSL_VERSION)
if(VD_OPENSSL_INCLUDE_DIR AND EXISTS "${VD_OPENSSL_INCLUDE_DIR}/openssl/opensslv.h")
  file(STRINGS "${VD_OPENSSL_INCLUDE_DIR}/openssl/opensslv.h" version_line
       REGEX "^# *define +OPENSSL_VERSION_STR +\"[0-9.]+\"")
  string(REGEX REPLACE ".*\"([0-9.]+)\".*" "\\1" OPENSSL_VERSION "${version_line}")
  unset(version_line)
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(OpenSSL NAME_MISMATCHED
  REQUIRED_VARS VD_OPENSSL_SSL_LIBRARY VD_OPENSSL_CRYPTO_LIBRARY VD_OPENSSL_INCLUDE_DIR
  VERSION_VAR OPENSSL_VERSION)
set(OpenSSL_FOUND ${OPENSSL_FOUND})

if(OpenSSL_FOUND AND NOT TARGET OpenSSL::Crypto)
  add_library(OpenSSL::Crypto STATIC IMPORTED GLOBAL)
  set_target_properties(OpenSSL::Crypto PROPERTIES
    IMPORTED_LOCATION "${VD_OPENSSL_CRYPTO_LIBRARY}"
    IMPORTED_LINK_INTERFACE_LANGUAGES C
    INTERFACE_INCLUDE_DIRECTORIES "${VD_OPENSSL_INCLUDE_DIR}"
    INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;user32;advapi32")
  add_library(OpenSSL::SSL STATIC IMPORTED GLOBAL)
  set_target_properties(OpenSSL::SSL PROPERTIES
    IMPORTED_LOCATION "${VD_OPENSSL_SSL_LIBRARY}"
    IMPORTED_LINK_INTERFACE_LANGUAGES C
    INTERFACE_INCLUDE_DIRECTORIES "${VD_OPENSSL_INCLUDE_DIR}"
    INTERFACE_LINK_LIBRARIES OpenSSL::Crypto)
endif()
