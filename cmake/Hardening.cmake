# Debian's default hardening for every optimised build that no sanitizer instruments:
# the flags dpkg-buildflags gives with bindnow (stack protector, _FORTIFY_SOURCE, format
# checks, relro and -z now), without its optimisation and debug flags, which the build
# type sets. _FORTIFY_SOURCE needs optimisation, so a Debug build goes without.
option(TESSALY_HARDENING "Build with Debian's hardening flags (dpkg-buildflags)" ON)
find_program(TESSALY_DPKG_BUILDFLAGS dpkg-buildflags)
if(TESSALY_HARDENING AND TESSALY_DPKG_BUILDFLAGS AND NOT TESSALY_SANITIZE AND NOT TESSALY_TSAN
   AND NOT TESSALY_FUZZ AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
    set(hardening)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
        execute_process(
            COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                    ${TESSALY_DPKG_BUILDFLAGS} --get ${kind}
            OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
            RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed (TESSALY_HARDENING=OFF builds without)")
        endif()
        separate_arguments(flags UNIX_COMMAND "${flags}")
        list(FILTER flags EXCLUDE REGEX "^-(g|O[0-9s]?|ffile-prefix-map=.*|fdebug-prefix-map=.*)$")
        if(kind STREQUAL "LDFLAGS")
            add_link_options(${flags})
        else()
            add_compile_options(${flags})
        endif()
        list(APPEND hardening ${flags})
    endforeach()
    message(STATUS "Hardening (dpkg-buildflags): ${hardening}")
endif()
