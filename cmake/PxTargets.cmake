# Helpers that give every target of ours the same warnings and include root.

function(px_defaults target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    if(WIN32)
        # windows.h must not turn std::min and std::max into its macros.
        target_compile_definitions(${target} PUBLIC NOMINMAX)
    endif()
endfunction()

# px_library(NAME SOURCES... [DEPENDS libs...])
function(px_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    px_defaults(${name})
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
endfunction()

# px_test(NAME [LABELS labels...] [TIMEOUT s] [LOCK resource] SOURCES... DEPENDS libs...): one
# GoogleTest executable whose cases ctest runs one by one, under the given labels (unit, e2e or gui;
# "thread" also puts them in the ThreadSanitizer run of scripts/test --tsan). The default label is
# unit. Cases of programs with the same LOCK never run at the same time.
function(px_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT;LOCK" "LABELS;SOURCES;DEPENDS" ${ARGN})
    if(NOT ARG_LABELS)
        set(ARG_LABELS unit)
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set(px_lock)
    if(ARG_LOCK)
        set(px_lock RESOURCE_LOCK ${ARG_LOCK})
    endif()
    add_executable(${name} ${ARG_SOURCES})
    px_defaults(${name})
    target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gtest_main Threads::Threads)
    # Every test may use the shared test support (temporary folders, loopback sockets, processes).
    if(TARGET px_test_support)
        target_link_libraries(${name} PRIVATE px_test_support)
    endif()
    target_compile_definitions(${name} PRIVATE PX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                               PX_BINARY_DIR="${PROJECT_BINARY_DIR}")
    # Listing the cases of a Windows test program first starts Wine, which can take a while.
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_LIST ${name}_TESTS
                         PROPERTIES TIMEOUT ${ARG_TIMEOUT} ${px_lock})
    # Labels are set by a script that ctest reads after discovery, since a list of labels does not
    # survive the discovery script's own list expansion.
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
    file(WRITE ${script} "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${ARG_LABELS}\")\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()

# px_fuzz(NAME SOURCES... DEPENDS libs...): a libFuzzer target, built only with PX_FUZZ.
function(px_fuzz name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    px_defaults(${name})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${ARG_DEPENDS})
endfunction()

# px_bench(NAME SOURCES... DEPENDS libs...): a Google Benchmark executable.
function(px_bench name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    px_defaults(${name})
    target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} benchmark::benchmark Threads::Threads)
endfunction()
