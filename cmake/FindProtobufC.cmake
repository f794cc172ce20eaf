# Finds the protocol-buffers C library's runtime and its code generator, and
# provides them as the imported target ProtobufC::protobuf-c and the program
# ProtobufC_PROTOC (protoc-c), under the same names in both builds:
#  - Windows builds: the static runtime that scripts/build-protobuf-c-mingw.sh
#    builds into <cache>/<arch>/protobuf-c (cmake/VdDepsCache.cmake;
#    VD_PROTOBUF_C_PREFIX overrides the place), and the build machine's
#    protoc-c (Debian's protobuf-c-compiler of the same source version).
#  - Host build: Debian's libprotobuf-c-dev and protobuf-c-compiler.
# protobuf_c_generate(<target> <file.proto>) generates the codec of a .proto
# into the build tree and adds it to <target>, with the folder it lies in as
# an include folder. Sets ProtobufC_FOUND and ProtobufC_VERSION.

if(TARGET ProtobufC::protobuf-c)
  set(ProtobufC_FOUND TRUE)
  return()
endif()

# The generator runs on the build machine in every build.
find_program(ProtobufC_PROTOC NAMES protoc-c protoc-gen-c NO_CMAKE_FIND_ROOT_PATH)

if(WIN32)
  include(VdDepsCache)
  set(VD_PROTOBUF_C_PREFIX "${VD_DEPS_CACHE}/${CMAKE_SYSTEM_PROCESSOR}/protobuf-c"
      CACHE PATH "Prefix holding the MinGW build of the protobuf-c runtime")
  find_path(ProtobufC_INCLUDE_DIR protobuf-c/protobuf-c.h
            PATHS "${VD_PROTOBUF_C_PREFIX}/include" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_library(ProtobufC_LIBRARY NAMES protobuf-c
               PATHS "${VD_PROTOBUF_C_PREFIX}/lib" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
else()
  find_path(ProtobufC_INCLUDE_DIR protobuf-c/protobuf-c.h)
  find_library(ProtobufC_LIBRARY NAMES protobuf-c)
endif()

if(ProtobufC_INCLUDE_DIR AND EXISTS "${ProtobufC_INCLUDE_DIR}/protobuf-c/protobuf-c.h")
  file(STRINGS "${ProtobufC_INCLUDE_DIR}/protobuf-c/protobuf-c.h" version_line
       REGEX "^#define PROTOBUF_C_VERSION[ \t]+\"")
  string(REGEX REPLACE ".*\"([0-9.]+)\".*" "\\1" ProtobufC_VERSION "${version_line}")
  unset(version_line)
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(ProtobufC
  REQUIRED_VARS ProtobufC_LIBRARY ProtobufC_INCLUDE_DIR ProtobufC_PROTOC
  VERSION_VAR ProtobufC_VERSION)
mark_as_advanced(ProtobufC_INCLUDE_DIR ProtobufC_LIBRARY ProtobufC_PROTOC)

if(ProtobufC_FOUND)
  add_library(ProtobufC::protobuf-c UNKNOWN IMPORTED GLOBAL)
  set_target_properties(ProtobufC::protobuf-c PROPERTIES
    IMPORTED_LOCATION "${ProtobufC_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${ProtobufC_INCLUDE_DIR}")
endif()

function(protobuf_c_generate target proto)
  get_filename_component(name "${proto}" NAME_WE)
  get_filename_component(source "${proto}" ABSOLUTE)
  get_filename_component(source_dir "${source}" DIRECTORY)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/protobuf-c")
  file(MAKE_DIRECTORY "${out}")
  add_custom_command(
    OUTPUT "${out}/${name}.pb-c.c" "${out}/${name}.pb-c.h"
    COMMAND "${ProtobufC_PROTOC}" "--c_out=${out}" "--proto_path=${source_dir}" "${source}"
    DEPENDS "${source}"
    COMMENT "Generating the codec of ${name}.proto"
    VERBATIM)
  target_sources(${target} PRIVATE "${out}/${name}.pb-c.c" "${out}/${name}.pb-c.h")
  target_include_directories(${target} PUBLIC "${out}")
  target_link_libraries(${target} PUBLIC ProtobufC::protobuf-c)
endfunction()
