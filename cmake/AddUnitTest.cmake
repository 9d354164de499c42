# SPDX-License-Identifier: GPL-3.0-or-later
# add_unit_test(NAME <name> SOURCES <files...> LIBRARIES <targets...> [LABELS <labels...>])
#
# Builds one GoogleTest executable linked with the shared test main (which
# creates the QApplication), registers it with CTest and gives it a headless,
# fixed environment: offscreen windows, a fixed locale and time zone, and
# configuration, cache, data and runtime directories of its own, emptied before each
# run.
function(add_unit_test)
    cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBRARIES;LABELS" ${ARGN})
    add_executable(${ARG_NAME} ${ARG_SOURCES})
    target_link_libraries(${ARG_NAME} PRIVATE project_options test_main ${ARG_LIBRARIES})
    add_test(NAME ${ARG_NAME} COMMAND ${ARG_NAME})
    set(home "${CMAKE_CURRENT_BINARY_DIR}/${ARG_NAME}.home")
    # Every run starts from an empty home, as on a new machine: nothing an
    # earlier run saved, kept or left behind is there. Its runtime folder is
    # made as a login session makes one (0700), since Qt will not create it.
    add_test(NAME ${ARG_NAME}_fresh_home
        COMMAND sh -c "rm -rf \"$1\" && mkdir -p -m 700 \"$1/runtime\"" fresh_home "${home}")
    set_tests_properties(${ARG_NAME}_fresh_home PROPERTIES LABELS "${ARG_LABELS}" FIXTURES_SETUP ${ARG_NAME}_home)
    set_tests_properties(${ARG_NAME} PROPERTIES
        FIXTURES_REQUIRED ${ARG_NAME}_home
        LABELS "${ARG_LABELS}"
        TIMEOUT 600
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LANG=zh_CN.UTF-8;LC_ALL=;LC_TIME=;TZ=Asia/Shanghai;HOME=${home};XDG_CONFIG_HOME=${home}/config;XDG_CACHE_HOME=${home}/cache;XDG_DATA_HOME=${home}/data;XDG_RUNTIME_DIR=${home}/runtime;http_proxy=;https_proxy=;HTTP_PROXY=;no_proxy=")
endfunction()
