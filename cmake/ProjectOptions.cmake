# SPDX-License-Identifier: GPL-3.0-or-later
# One interface target carries the language level, the warnings and the
# sanitizers, so every target in the tree is built the same way.

set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

set(OSTREL_SANITIZE "" CACHE STRING
    "Sanitizers to build with: empty, 'address,undefined' or 'thread'")
option(OSTREL_FUZZ "Build the libFuzzer targets (clang only, with OSTREL_SANITIZE=address,undefined)" OFF)

add_library(project_options INTERFACE)
target_compile_features(project_options INTERFACE cxx_std_20)
target_compile_options(project_options INTERFACE -Wall -Wextra -Werror)

if(OSTREL_SANITIZE)
    target_compile_options(project_options INTERFACE
        -fsanitize=${OSTREL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(project_options INTERFACE -fsanitize=${OSTREL_SANITIZE})
endif()

# Every library a fuzz target links is instrumented for coverage; only the
# targets themselves link libFuzzer's main.
if(OSTREL_FUZZ)
    target_compile_options(project_options INTERFACE -fsanitize=fuzzer-no-link)
endif()

# Shipped builds get the hardening Debian expects of its binaries: checked
# string and memory functions, and relocations made read-only at start.
if(NOT OSTREL_SANITIZE)
    target_compile_options(project_options INTERFACE $<$<CONFIG:Release>:-D_FORTIFY_SOURCE=2>)
    target_link_options(project_options INTERFACE $<$<CONFIG:Release>:LINKER:-z,relro,-z,now>)
endif()
