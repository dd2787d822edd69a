# Settings every target of ours shares: standard, warnings, floating-point rules.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

# Warnings are errors where we check (scripts/test, CI), not in a user's build.
option(MERIDANE_WERROR "Treat compiler warnings as errors" OFF)

add_library(meridane_common INTERFACE)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Version.h.in ${CMAKE_BINARY_DIR}/generated/meridane/Version.h @ONLY)
target_include_directories(meridane_common INTERFACE ${CMAKE_BINARY_DIR}/generated)
target_compile_options(meridane_common INTERFACE
  -Wall -Wextra
  # The tile arithmetic depends on every rounding step happening where written;
  # a fused multiply-add would skip one.
  -ffp-contract=off)
if(MERIDANE_WERROR)
  target_compile_options(meridane_common INTERFACE -Werror)
endif()
# GCC 12 at -O3 warns about its own std::string code (-Wrestrict false positives).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(meridane_common INTERFACE -Wno-restrict)
endif()

# MERIDANE_SANITIZE=thread (or address, undefined) builds everything with that sanitizer.
set(MERIDANE_SANITIZE "" CACHE STRING "Sanitizer to build with")
if(MERIDANE_SANITIZE)
  target_compile_options(meridane_common INTERFACE -fsanitize=${MERIDANE_SANITIZE} -fno-omit-frame-pointer)
  target_link_options(meridane_common INTERFACE -fsanitize=${MERIDANE_SANITIZE})
endif()

# MERIDANE_FUZZ builds the parsers' fuzz targets with Clang's libFuzzer, and
# everything under AddressSanitizer and UndefinedBehaviorSanitizer, which stops
# at the first fault so that libFuzzer keeps the input.
option(MERIDANE_FUZZ "Build the fuzz targets (Clang)" OFF)
if(MERIDANE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "MERIDANE_FUZZ needs Clang: CXX=clang++")
  endif()
  target_compile_options(meridane_common INTERFACE -fsanitize=fuzzer-no-link,address,undefined
    -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(meridane_common INTERFACE -fsanitize=address,undefined)
endif()
