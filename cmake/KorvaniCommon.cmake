# Compile settings shared by every target of the project.
add_library(korvani_common INTERFACE)
target_compile_features(korvani_common INTERFACE cxx_std_20)
target_compile_options(korvani_common INTERFACE -Wall -Wextra -Wpedantic)
target_compile_definitions(korvani_common INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_KEYWORDS
    KORVANI_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    KORVANI_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    KORVANI_VERSION_PATCH=${PROJECT_VERSION_PATCH})
if(KORVANI_WERROR)
    target_compile_options(korvani_common INTERFACE -Werror)
endif()
# The distribution's hardening, so that the binary the package ships carries it: dpkg-buildflags
# with hardening=+all gives the stack protector, FORTIFY_SOURCE, format checks and full RELRO (with
# BIND_NOW); Qt's position-independent code is linked as PIE. Optimisation and debug information
# stay the build type's. Not with the sanitizers, which check on their own and clash with
# FORTIFY_SOURCE.
if(KORVANI_HARDENING AND NOT KORVANI_ASAN)
    include(CheckPIESupported)
    check_pie_supported()
    find_program(KORVANI_DPKG_BUILDFLAGS dpkg-buildflags)
    if(NOT KORVANI_DPKG_BUILDFLAGS)
        message(STATUS "No dpkg-buildflags: built without the distribution's hardening flags")
    endif()
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
        set(flags "")
        if(KORVANI_DPKG_BUILDFLAGS)
            execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                ${KORVANI_DPKG_BUILDFLAGS} --get ${kind}
                OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
        endif()
        separate_arguments(flags UNIX_COMMAND "${flags}")
        list(FILTER flags EXCLUDE REGEX "^-(g|O)|^-f(file|debug|macro)-prefix-map=")
        foreach(flag IN LISTS flags)
            if(kind STREQUAL "LDFLAGS")
                target_link_options(korvani_common INTERFACE ${flag})
            elseif(flag MATCHES "^-D_FORTIFY_SOURCE")
                # glibc's checks need the optimiser; without it they only warn.
                target_compile_options(korvani_common INTERFACE
                    "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:${flag}>")
            else()
                target_compile_options(korvani_common INTERFACE ${flag})
            endif()
        endforeach()
    endforeach()
endif()
if(KORVANI_ASAN)
    # Recoverable, so that with halt_on_error=0 a run goes on past a report from a library and
    # all its reports can be judged together (scripts/sanitizer-check); the default still stops.
    target_compile_options(korvani_common INTERFACE -fsanitize=address,undefined -fsanitize-recover=address
        -fno-omit-frame-pointer)
    target_link_options(korvani_common INTERFACE -fsanitize=address,undefined -fsanitize-recover=address)
endif()

# korvani_add_test(NAME name SOURCES ... LIBS ... [SERIAL] [TIMEOUT s] [LABELS ...] [ENV ...]
#                  [FIXTURES ...])
# One executable per test class, run headless through ctest. FIXTURES names ctest fixtures
# (servers started by a setup test) that must be up while it runs.
function(korvani_add_test)
    cmake_parse_arguments(T "SERIAL" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ENV;FIXTURES" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE korvani_common Qt6::Test ${T_LIBS})
    target_compile_definitions(${T_NAME} PRIVATE
        KORVANI_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
        KORVANI_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    # Never the desktop's own session bus: a test that wants one starts a private bus.
    set(no_session_bus "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/korvani-test-bus")
    set_tests_properties(${T_NAME} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LANG=C.UTF-8;QTWEBENGINE_DISABLE_SANDBOX=1;${no_session_bus};${T_ENV}")
    if(T_SERIAL)
        set_tests_properties(${T_NAME} PROPERTIES RUN_SERIAL TRUE)
    endif()
    if(T_LABELS)
        set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
    endif()
    if(T_FIXTURES)
        set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED "${T_FIXTURES}")
    endif()
endfunction()
