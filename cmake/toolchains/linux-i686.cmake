# 32-bit Linux, Debian's i686 cross compiler: the host build with 4-byte
# pointers, so that the packed records crossing the kernel boundary have the
# product's layout. The tests run under qemu-i386 user-mode emulation.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(VD_I686_SYSROOT /usr/i686-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${VD_I686_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The programs name the cross tree's loader and search its libraries
# (DT_RPATH, which also serves the libraries' own dependencies and the
# kernel library loaded at run time), so that they start under the emulator
# without a library prefix: directly, or as child processes through the
# binfmt_misc entry that scripts/test.sh registers.
set(CMAKE_EXE_LINKER_FLAGS_INIT
  "-Wl,--dynamic-linker=${VD_I686_SYSROOT}/lib/ld-linux.so.2 -Wl,-rpath,${VD_I686_SYSROOT}/lib -Wl,--disable-new-dtags")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-rpath,${VD_I686_SYSROOT}/lib -Wl,--disable-new-dtags")

find_program(VD_QEMU_I386 NAMES qemu-i386-static qemu-i386)
if(VD_QEMU_I386)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VD_QEMU_I386})
  set(VD_CAN_RUN_TESTS ON)
  # The tests run under user-mode emulation: what the emulator cannot do
  # is skipped there, with the reason.
  set(VD_EMULATED ON)
else()
  set(VD_CAN_RUN_TESTS OFF)
endif()
