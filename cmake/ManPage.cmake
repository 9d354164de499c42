# SPDX-License-Identifier: GPL-3.0-or-later
#
# add_man_page(TARGET <executable> INCLUDE <file.h2m> COMPONENT <component> [DEPENDS <files...>])
#
# Makes <executable>.1.gz at build time with Debian's help2man from the
# program's own --help and --version, adding the sections of the include file
# (name, exit status, files), and installs it under share/man/man1 with the
# given install component. The program runs on the build machine, so it must
# answer --help and --version without a display; the offscreen platform is
# set as a guard all the same, and a program that opens its window instead
# of answering fails the build after a minute. Sanitizer builds, whose programs print reports
# of their own, and machines without help2man make no manual pages. The
# programs find the build's own share folder (the bundled databases, which
# --version describes) and none of the build machine's; their Chinese text is
# read as UTF-8.
find_program(HELP2MAN_EXECUTABLE help2man)

function(add_man_page)
    cmake_parse_arguments(ARG "" "TARGET;INCLUDE;COMPONENT" "DEPENDS" ${ARGN})
    if(OSTREL_SANITIZE OR NOT HELP2MAN_EXECUTABLE)
        return()
    endif()
    get_filename_component(include "${ARG_INCLUDE}" ABSOLUTE)
    set(page "${CMAKE_CURRENT_BINARY_DIR}/man/${ARG_TARGET}.1")
    # Compressed as Debian policy asks (gzip -9n: no name, no time stamp).
    add_custom_command(OUTPUT "${page}.gz"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/man"
        COMMAND "${CMAKE_COMMAND}" -E env QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
            "XDG_DATA_DIRS=${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_DATADIR}"
            "XDG_DATA_HOME=${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_DATADIR}"
            timeout 60 "${HELP2MAN_EXECUTABLE}" --no-info --locale=C.UTF-8 --include "${include}" --output "${page}"
            "$<TARGET_FILE:${ARG_TARGET}>"
        COMMAND gzip -9nf "${page}"
        DEPENDS ${ARG_TARGET} "${include}" ${ARG_DEPENDS}
        COMMENT "Manual page ${ARG_TARGET}(1)"
        VERBATIM)
    add_custom_target(${ARG_TARGET}_man_page ALL DEPENDS "${page}.gz")
    install(FILES "${page}.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT ${ARG_COMPONENT})
endfunction()
