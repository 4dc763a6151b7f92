# Cross-compiles with zig, for the target in KIRLATIN_ZIG_TARGET, against the C library zig
# carries for it:
#   aarch64-macos, x86_64-macos: macOS on Apple silicon and on Intel (libSystem's stubs);
#   x86_64-linux-musl, aarch64-linux-musl, arm-linux-musleabihf: Linux, linked statically with
#     musl, so that the program needs nothing of the machine (arm: ARMv7 with hard float, as a
#     Raspberry Pi 2 or later, and most NAS boxes and routers of 32 bits);
#   aarch64-windows-gnu: Windows on Arm, linked statically with mingw-w64.
# KIRLATIN_ZIG names the zig program (scripts/install-zig.sh prints where it installed it).
#   cmake -S . -B build-linux-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/zig.cmake \
#       -DKIRLATIN_ZIG=/path/to/zig -DKIRLATIN_ZIG_TARGET=aarch64-linux-musl
# The program is compiled as C++ but linked by zig's C driver: it needs no C++ library, and zig
# would otherwise build libc++ for the target first. Tests, where built, link libc++.
if(NOT KIRLATIN_ZIG_TARGET)
  set(KIRLATIN_ZIG_TARGET aarch64-macos)
endif()
string(REGEX MATCH "^[^-]+" KIRLATIN_ZIG_ARCH "${KIRLATIN_ZIG_TARGET}")
set(KIRLATIN_ZIG_CPU "")
if(KIRLATIN_ZIG_TARGET MATCHES "-macos")
  set(CMAKE_SYSTEM_NAME Darwin)
  set(CMAKE_OSX_SYSROOT "")
  set(CMAKE_OSX_DEPLOYMENT_TARGET "")
  set(CMAKE_SYSTEM_PROCESSOR ${KIRLATIN_ZIG_ARCH})
elseif(KIRLATIN_ZIG_TARGET MATCHES "-linux")
  set(CMAKE_SYSTEM_NAME Linux)
  set(CMAKE_SYSTEM_PROCESSOR ${KIRLATIN_ZIG_ARCH})
  if(KIRLATIN_ZIG_ARCH STREQUAL arm)
    set(CMAKE_SYSTEM_PROCESSOR armv7)
    set(KIRLATIN_ZIG_CPU -mcpu=generic+v7a+vfp3+d32)
  endif()
  set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
  # The tests run the target's programs under Debian's qemu-user, where it is installed.
  string(REPLACE armv7 arm KIRLATIN_QEMU qemu-${CMAKE_SYSTEM_PROCESSOR})
  find_program(CMAKE_CROSSCOMPILING_EMULATOR ${KIRLATIN_QEMU})
elseif(KIRLATIN_ZIG_TARGET MATCHES "-windows")
  set(CMAKE_SYSTEM_NAME Windows)
  set(CMAKE_SYSTEM_PROCESSOR ${KIRLATIN_ZIG_ARCH})
endif()
# Carried into every try_compile, where this file is read again.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KIRLATIN_ZIG KIRLATIN_ZIG_TARGET)

# zig takes its tool as its first argument; CMake wants one program for each. The compiler check
# asks the linker for -v, which zig refuses.
foreach(tool cc c++ ar ranlib)
  set(wrapper ${CMAKE_BINARY_DIR}/zig-${tool})
  set(target "")
  if(tool MATCHES "^c")
    set(target "-target ${KIRLATIN_ZIG_TARGET} ${KIRLATIN_ZIG_CPU}")
  endif()
  file(WRITE ${wrapper} "#!/bin/sh\n"
       "for arg; do shift; [ \"$arg\" = -Wl,-v ] || set -- \"$@\" \"$arg\"; done\n"
       "exec \"${KIRLATIN_ZIG}\" ${tool} ${target} \"$@\"\n")
  file(CHMOD ${wrapper} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
       GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
set(CMAKE_C_COMPILER ${CMAKE_BINARY_DIR}/zig-cc)
set(CMAKE_CXX_COMPILER ${CMAKE_BINARY_DIR}/zig-c++)
set(CMAKE_AR ${CMAKE_BINARY_DIR}/zig-ar)
set(CMAKE_RANLIB ${CMAKE_BINARY_DIR}/zig-ranlib)
# Without exceptions and run-time type information, as the program is built, and without the
# checks zig adds to unoptimised code (its function check names C++ type information), even the
# compiler check's program needs no C++ library.
set(CMAKE_C_FLAGS_INIT "-fno-sanitize=all")
set(CMAKE_CXX_FLAGS_INIT "-fno-sanitize=all -fno-exceptions -fno-rtti")
# Linked stripped: no strip here reads Mach-O, nor every target's ELF.
set(CMAKE_STRIP "")
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -s")
set(CMAKE_CXX_LINK_EXECUTABLE
    "<CMAKE_C_COMPILER> <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")
