# Linux host: the core with the POSIX platform layer, the selfx tool, unit tests, fuzzers
# and the benchmark.

add_library(selfx_core STATIC ${SELFX_CORE_SOURCES} src/platform/posix.cpp)
target_include_directories(selfx_core PUBLIC src)

file(GLOB SELFX_CLI_SOURCES CONFIGURE_DEPENDS src/cli/*.cpp src/ui/console/*.cpp)
find_package(ZLIB REQUIRED)  # the builder's compressor; never linked into the core or the stub
add_executable(selfx ${SELFX_CLI_SOURCES})
target_link_libraries(selfx PRIVATE selfx_core ZLIB::ZLIB)
target_compile_definitions(selfx PRIVATE SELFX_VERSION="${PROJECT_VERSION}")

find_package(GTest REQUIRED)
include(GoogleTest)
file(GLOB SELFX_UNIT_TEST_SOURCES CONFIGURE_DEPENDS tests/unit/*.cpp)
# The command-line reader is pure and tested directly.
add_executable(selfx_unit_tests ${SELFX_UNIT_TEST_SOURCES} src/cli/command_line.cpp)
# The tests' shared helpers (test_support.h, scripted_ui.h, ...) by their own names.
target_include_directories(selfx_unit_tests PRIVATE tests/unit)
target_link_libraries(selfx_unit_tests PRIVATE selfx_core GTest::gtest GTest::gtest_main ZLIB::ZLIB)
target_compile_definitions(selfx_unit_tests PRIVATE SELFX_TOOL_PATH="$<TARGET_FILE:selfx>")
add_dependencies(selfx_unit_tests selfx)
# Test tables name only the fields a case is about.
target_compile_options(selfx_unit_tests PRIVATE -Wno-missing-field-initializers)
gtest_discover_tests(selfx_unit_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)

# gcc has no libFuzzer: the fuzz targets come only with the fuzz preset (clang).
if(SELFX_FUZZ)
  add_subdirectory(tests/fuzz)
endif()
add_subdirectory(bench)

# selfx test and extract against Info-ZIP unzip on archives of this machine's files.
# Fewer archives where each run of selfx is slow (32-bit code under an emulator).
set(SELFX_COMPARE_ARCHIVES 300 CACHE STRING "Archives compare_with_unzip makes and checks")
add_test(NAME compare_with_unzip
         COMMAND ${CMAKE_SOURCE_DIR}/tests/compare/compare_with_unzip.sh $<TARGET_FILE:selfx>
                 ${SELFX_COMPARE_ARCHIVES})
set_tests_properties(compare_with_unzip PROPERTIES TIMEOUT 600)
add_test(NAME build_tree COMMAND ${CMAKE_SOURCE_DIR}/tests/compare/build_tree.sh $<TARGET_FILE:selfx>)
set_tests_properties(build_tree PROPERTIES TIMEOUT 300)
