# SPDX-License-Identifier: GPL-3.0-or-later
# add_fuzz_target(NAME <name> SOURCES <files...> LIBRARIES <targets...> [DEFINITIONS <NAME=value...>])
#
# A libFuzzer target for one reader of outside bytes, built only in the
# fuzzing configuration (-DOSTREL_FUZZ=ON with clang; scripts/fuzz makes it).
# Its seed corpus is the folder corpus/<name>/ beside the CMakeLists.txt that
# calls this. Elsewhere the call does nothing, so it needs no guard.
function(add_fuzz_target)
    if(NOT OSTREL_FUZZ)
        return()
    endif()
    cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBRARIES;DEFINITIONS" ${ARGN})
    add_executable(${ARG_NAME} ${ARG_SOURCES})
    target_link_libraries(${ARG_NAME} PRIVATE project_options ${ARG_LIBRARIES})
    target_link_options(${ARG_NAME} PRIVATE -fsanitize=fuzzer)
    target_compile_definitions(${ARG_NAME} PRIVATE ${ARG_DEFINITIONS})
    set_property(GLOBAL APPEND PROPERTY OSTREL_FUZZ_TARGETS
        "${ARG_NAME}\t$<TARGET_FILE:${ARG_NAME}>\t${CMAKE_CURRENT_SOURCE_DIR}/corpus/${ARG_NAME}")
endfunction()

# The list scripts/fuzz reads: one line per target, its name, binary and seed corpus.
function(write_fuzz_target_list)
    if(NOT OSTREL_FUZZ)
        return()
    endif()
    get_property(targets GLOBAL PROPERTY OSTREL_FUZZ_TARGETS)
    list(JOIN targets "\n" lines)
    file(GENERATE OUTPUT "${PROJECT_BINARY_DIR}/fuzz-targets.tsv" CONTENT "${lines}\n")
endfunction()
