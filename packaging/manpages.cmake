# Manual pages iopanel.1.gz, iopanelctl.1.gz, iopanel-mqtt.1.gz and iomodule-sim.1.gz, made at build time by
# help2man from the built programs' --help and --version, plus the sections in
# <program>.h2m; so the options in the pages are always the programs' own.
#
# help2man writes the page in its --locale's character set: in the default C
# locale every byte of a non-ASCII character became a "?" (the scan button's
# "Скан." read "????????.").
#
# Skipped when help2man is missing (tools/install-deps.sh package installs
# it) and in sanitizer builds, whose programs are not run at build time; the
# build still works, but cpack then refuses to make packages
# (cpackmanpages.cmake). -DIOPANEL_HELP2MAN=/nonexistent acts as a machine
# without help2man.
find_program(IOPANEL_HELP2MAN help2man)
if(NOT IOPANEL_HELP2MAN OR NOT EXISTS "${IOPANEL_HELP2MAN}")
    message(STATUS "iopanel: help2man not found, the manual pages are not built")
    return()
endif()
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize")
    message(STATUS "iopanel: sanitizer build, the manual pages are not built")
    return()
endif()

function(iopanel_manpage target component name)
    set(include ${CMAKE_CURRENT_SOURCE_DIR}/${target}.h2m)
    set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${target}.1)
    add_custom_command(OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
        COMMAND ${IOPANEL_HELP2MAN} --locale=C.UTF-8 --no-info --name=${name} --include=${include}
            --output=${page} $<TARGET_FILE:${target}>
        COMMAND gzip -9nf ${page}
        DEPENDS ${target} ${include}
        COMMENT "Manual page ${target}.1 from ${target} --help and --version"
        VERBATIM)
    add_custom_target(${target}-manpage ALL DEPENDS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

iopanel_manpage(iopanel iopanel "control panel for a digital I/O module on a serial line")
iopanel_manpage(iopanelctl iopanel-tools "drive and watch the digital I/O module from a shell")
iopanel_manpage(iopanel-mqtt iopanel-tools "put a digital I/O module on an MQTT broker")
iopanel_manpage(iomodule-sim iomodule-sim "stand-in for the digital I/O module, for trying iopanel")
