# Read by cpack before it makes the packages: every manual page the packages
# install must have been built, or no package is made.
foreach(page IN LISTS CPACK_IOPANEL_MANPAGES)
    if(NOT EXISTS "${page}")
        get_filename_component(name "${page}" NAME)
        message(FATAL_ERROR
            "iopanel: the manual page ${name} was not built, and the packages must not ship without it. "
            "Install help2man (apt-get install help2man, or tools/install-deps.sh package), use a build "
            "without sanitizers, configure again (cmake .), build (cmake --build .) and run cpack again.")
    endif()
endforeach()
