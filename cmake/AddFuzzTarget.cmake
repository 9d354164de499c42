# SPDX-License-Identifier: GPL-3.0-or-later
# add_fuzz_target(NAME <name> SOURCES <files...> LIBRARIES <targets...> [DEFINITIONS <NAME=value...>])
#
# A libFuzzer target for one reader of outside bytes. Its corpus is the folder
# corpus/<name>/ beside the CMakeLists.txt that calls this: the seeds and every
# input a search ever found fault with.
#
# - In the fuzzing configuration (-DOSTREL_FUZZ=ON with clang; scripts/fuzz makes
#   it) it is linked with libFuzzer's main, to search for new inputs.
# - In a test build under AddressSanitizer it is linked with a main that feeds it
#   each input of its corpus once, as the test <name>_replay (label "fuzz"): the
#   same inputs every time, so the suite fails only for a fault the tree has.
# - Elsewhere the call does nothing, so it needs no guard.
function(add_fuzz_target)
    cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBRARIES;DEFINITIONS" ${ARGN})
    set(corpus "${CMAKE_CURRENT_SOURCE_DIR}/corpus/${ARG_NAME}")
    if(OSTREL_FUZZ)
        add_executable(${ARG_NAME} ${ARG_SOURCES})
        target_link_libraries(${ARG_NAME} PRIVATE project_options ${ARG_LIBRARIES})
        target_link_options(${ARG_NAME} PRIVATE -fsanitize=fuzzer)
        target_compile_definitions(${ARG_NAME} PRIVATE ${ARG_DEFINITIONS})
        set_property(GLOBAL APPEND PROPERTY OSTREL_FUZZ_TARGETS "${ARG_NAME}\t$<TARGET_FILE:${ARG_NAME}>\t${corpus}")
    elseif(BUILD_TESTING AND OSTREL_SANITIZE MATCHES "address")
        set(replay ${ARG_NAME}_replay)
        add_executable(${replay} ${ARG_SOURCES})
        target_link_libraries(${replay} PRIVATE project_options fuzz_replay_main ${ARG_LIBRARIES})
        target_compile_definitions(${replay} PRIVATE ${ARG_DEFINITIONS})
        add_test(NAME ${replay} COMMAND ${replay} "${corpus}")
        # As scripts/fuzz runs them: a failed allocation is an answer, not a crash, up to its memory limit.
        set_tests_properties(${replay} PROPERTIES LABELS fuzz TIMEOUT 600 ENVIRONMENT
            "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1:max_allocation_size_mb=2048")
        give_test_fresh_home(${replay} "${CMAKE_CURRENT_BINARY_DIR}/${replay}.home" fuzz)
        set_property(TEST ${replay} APPEND PROPERTY ENVIRONMENT "TMPDIR=${CMAKE_CURRENT_BINARY_DIR}/${replay}.home/tmp")
        set_property(GLOBAL APPEND PROPERTY OSTREL_UNIT_TESTS ${replay})
    endif()
endfunction()

# The list scripts/fuzz reads: one line per target, its name, binary and corpus.
function(write_fuzz_target_list)
    if(NOT OSTREL_FUZZ)
        return()
    endif()
    get_property(targets GLOBAL PROPERTY OSTREL_FUZZ_TARGETS)
    list(JOIN targets "\n" lines)
    file(GENERATE OUTPUT "${PROJECT_BINARY_DIR}/fuzz-targets.tsv" CONTENT "${lines}\n")
endfunction()
