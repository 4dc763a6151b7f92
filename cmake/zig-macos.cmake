# Cross-compiles for macOS with zig (the macOS C headers and libSystem stubs it carries), for the
# architecture in KIRLATIN_MACOS_ARCH: aarch64 (Apple silicon, the default) or x86_64 (Intel).
# KIRLATIN_ZIG names the zig program (scripts/install-zig.sh prints where it installed it).
#   cmake -S . -B build-macos-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/zig-macos.cmake \
#       -DKIRLATIN_ZIG=/path/to/zig -DKIRLATIN_TESTS=OFF
# The program is compiled as C++ but linked by zig's C driver: it needs no C++ library, and
# zig would otherwise build libc++ for the target first.
set(CMAKE_SYSTEM_NAME Darwin)
if(NOT KIRLATIN_MACOS_ARCH)
  set(KIRLATIN_MACOS_ARCH aarch64)
endif()
set(CMAKE_SYSTEM_PROCESSOR ${KIRLATIN_MACOS_ARCH})
set(CMAKE_OSX_SYSROOT "")
set(CMAKE_OSX_DEPLOYMENT_TARGET "")
# Carried into every try_compile, where this file is read again.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KIRLATIN_ZIG KIRLATIN_MACOS_ARCH)

# zig takes its tool as its first argument; CMake wants one program for each. The compiler check
# asks the linker for -v, which zig refuses.
foreach(tool cc c++ ar ranlib)
  set(wrapper ${CMAKE_BINARY_DIR}/zig-${tool})
  set(target "")
  if(tool MATCHES "^c")
    set(target "-target ${KIRLATIN_MACOS_ARCH}-macos")
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
# Linked stripped: no strip here reads Mach-O.
set(CMAKE_STRIP "")
set(CMAKE_EXE_LINKER_FLAGS_INIT -s)
set(CMAKE_CXX_LINK_EXECUTABLE
    "<CMAKE_C_COMPILER> <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")
