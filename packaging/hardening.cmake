# Debian's hardening, all of it behind IOPANEL_HARDENING: position
# independent executables for every build type (a target property, not a
# per-configuration flag), and for optimised builds (Release, RelWithDebInfo,
# MinSizeRel), the ones that are installed and packaged, stack protector,
# fortified libc calls and read-only relocations bound at start. Debug builds
# (the sanitizer and fuzzer runs) get no more than PIE: _FORTIFY_SOURCE needs
# optimisation and the sanitizers check more.
# Included from the top-level CMakeLists.txt before any target is defined.
option(IOPANEL_HARDENING "Build with Debian's hardening flags" ON)

if(IOPANEL_HARDENING)
    include(CheckPIESupported)
    check_pie_supported(OUTPUT_VARIABLE iopanel_pie_output LANGUAGES CXX)
    if(NOT CMAKE_CXX_LINK_PIE_SUPPORTED)
        message(WARNING "iopanel: the linker cannot make position independent executables: ${iopanel_pie_output}")
    endif()
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)

    set(iopanel_optimised "$<OR:$<CONFIG:Release>,$<CONFIG:RelWithDebInfo>,$<CONFIG:MinSizeRel>>")
    add_compile_options(
        "$<${iopanel_optimised}:-fstack-protector-strong>"
        "$<${iopanel_optimised}:-Wformat>"
        "$<${iopanel_optimised}:-Werror=format-security>")
    add_compile_definitions("$<${iopanel_optimised}:_FORTIFY_SOURCE=2>")
    add_link_options("$<${iopanel_optimised}:LINKER:-z,relro>" "$<${iopanel_optimised}:LINKER:-z,now>")
endif()
