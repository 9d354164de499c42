# SPDX-License-Identifier: GPL-3.0-or-later
# add_unit_test(NAME <name> SOURCES <files...> LIBRARIES <targets...> [LABELS <labels...>])
#
# Builds one GoogleTest executable linked with the shared test main (which
# creates the QApplication), registers it with CTest and gives it a headless,
# fixed environment: offscreen windows, a fixed locale and time zone, and
# configuration, cache, data and runtime directories of its own, emptied before each
# run. A test that starts a program of the tree depends on it (add_dependencies).
#
# Every test executable belongs to the target "unit-tests", and those labelled
# "threaded" also to "threaded-tests": a build of either has all that its tests
# need (scripts/test builds only what each stage runs).
function(add_unit_test)
    cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBRARIES;LABELS" ${ARGN})
    add_executable(${ARG_NAME} ${ARG_SOURCES})
    target_link_libraries(${ARG_NAME} PRIVATE project_options test_main ${ARG_LIBRARIES})
    add_test(NAME ${ARG_NAME} COMMAND ${ARG_NAME})
    set_tests_properties(${ARG_NAME} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 600)
    give_test_fresh_home(${ARG_NAME} "${CMAKE_CURRENT_BINARY_DIR}/${ARG_NAME}.home" "${ARG_LABELS}")
    set_property(GLOBAL APPEND PROPERTY OSTREL_UNIT_TESTS ${ARG_NAME})
    if("threaded" IN_LIST ARG_LABELS)
        set_property(GLOBAL APPEND PROPERTY OSTREL_THREADED_TESTS ${ARG_NAME})
    endif()
endfunction()

# give_test_fresh_home(<test> <home> <labels>)
#
# Every run starts from an empty home, as on a new machine: nothing an
# earlier run saved, kept or left behind is there. Its runtime folder is
# made as a login session makes one (0700), since Qt will not create it.
function(give_test_fresh_home test home labels)
    add_test(NAME ${test}_fresh_home
        COMMAND sh -c "rm -rf \"$1\" && mkdir -p -m 700 \"$1/runtime\" \"$1/tmp\"" fresh_home "${home}")
    set_tests_properties(${test}_fresh_home PROPERTIES LABELS "${labels}" FIXTURES_SETUP ${test}_home)
    set_property(TEST ${test} PROPERTY FIXTURES_REQUIRED ${test}_home)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT
        "QT_QPA_PLATFORM=offscreen;LANG=zh_CN.UTF-8;LC_ALL=;LC_TIME=;TZ=Asia/Shanghai;HOME=${home};XDG_CONFIG_HOME=${home}/config;XDG_CACHE_HOME=${home}/cache;XDG_DATA_HOME=${home}/data;XDG_RUNTIME_DIR=${home}/runtime;http_proxy=;https_proxy=;HTTP_PROXY=;no_proxy=")
endfunction()

# The targets "unit-tests" and "threaded-tests"; called once, after every test is added.
function(add_test_build_targets)
    get_property(all GLOBAL PROPERTY OSTREL_UNIT_TESTS)
    get_property(threaded GLOBAL PROPERTY OSTREL_THREADED_TESTS)
    add_custom_target(unit-tests)
    add_custom_target(threaded-tests)
    if(all)
        add_dependencies(unit-tests ${all})
    endif()
    if(threaded)
        add_dependencies(threaded-tests ${threaded})
    endif()
endfunction()
