# Compiler settings shared by every target, and the helpers that add
# sub-folders and tests.

if(WIN32)
  set(VD_PLATFORM_SIDE win32)
else()
  set(VD_PLATFORM_SIDE simulated)
endif()

if(NOT WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  # 64-bit file offsets, inode numbers, directory positions and times, as
  # 64-bit builds have them: without them, reading a directory whose
  # positions exceed 32 bits fails with EOVERFLOW.
  add_compile_definitions(_FILE_OFFSET_BITS=64 _TIME_BITS=64)
endif()

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra -Wno-unused-parameter)
endif()

if(VD_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(VD_FUZZ)
  # Every object can be linked into a fuzz target; the targets add
  # -fsanitize=fuzzer themselves.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # The programs import only Windows system libraries: the C++ runtime and
  # the threads library are linked in.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

# Adds every direct sub-folder of the current folder that has a CMakeLists.txt.
function(vd_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# vd_unit_test(NAME SOURCES a.cpp ... LIBS lib ... TIMEOUT seconds [WRAP script]
#              [PROGRAM_TIMEOUT seconds])
# A GoogleTest program whose cases are registered with CTest one by one,
# each with TIMEOUT: fitted to its slowest case in the host debug build, so a
# hang fails within seconds, not at CTest's default of 25 minutes. Under
# qemu-i386 the limit is five times as long; under wine64, where the program
# is one CTest entry, PROGRAM_TIMEOUT (default 300) bounds the whole run.
# Cross builds run it through CMAKE_CROSSCOMPILING_EMULATOR (wine64 for
# Windows, qemu-i386 for 32-bit Linux).
function(vd_unit_test name)
  cmake_parse_arguments(T "" "WRAP;TIMEOUT;PROGRAM_TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    message(FATAL_ERROR "vd_unit_test(${name}): a TIMEOUT is required")
  endif()
  if(NOT T_PROGRAM_TIMEOUT)
    set(T_PROGRAM_TIMEOUT 300)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  if(VD_EMULATED)
    # The tests run under user-mode emulation (set by the toolchain file):
    # what the emulator cannot do is skipped, with the reason.
    target_compile_definitions(${name} PRIVATE VD_EMULATED=1)
  endif()
  if(NOT VD_RUN_TESTS)
    return()
  endif()
  set(env "VD_SOURCE_DIR=${PROJECT_SOURCE_DIR};VD_BINARY_DIR=${PROJECT_BINARY_DIR}")
  if(CMAKE_CROSSCOMPILING AND WIN32)
    # One CTest entry per program: every start under wine64 costs a second.
    # WRAP: a host-side script that runs the emulated program (for example
    # beside a Linux broker it drives).
    if(T_WRAP)
      add_test(NAME ${name} COMMAND ${T_WRAP} ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
    else()
      add_test(NAME ${name} COMMAND ${name})
    endif()
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${T_PROGRAM_TIMEOUT})
  else()
    set(timeout ${T_TIMEOUT})
    if(VD_EMULATED)
      math(EXPR timeout "${T_TIMEOUT} * 5")
    endif()
    gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 60
      PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${timeout})
  endif()
endfunction()

# A program that loads the kernel library from its own folder: a copy of the
# library beside it, refreshed whenever the library is rebuilt (the program
# relinks then, and the copy follows).
function(vd_kernel_beside target)
  add_dependencies(${target} vdkernel)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS $<TARGET_FILE:vdkernel>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:vdkernel> $<TARGET_FILE_DIR:${target}>)
endfunction()
