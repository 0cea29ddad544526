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
