# Linux host: the core with the POSIX platform layer, the selfx tool, unit tests, fuzzers
# and the benchmark.

add_library(selfx_core STATIC ${SELFX_CORE_SOURCES} src/platform/posix.cpp
            src/platform/posix_pending_file.cpp)
target_include_directories(selfx_core PUBLIC src)

file(GLOB SELFX_CLI_SOURCES CONFIGURE_DEPENDS src/cli/*/*.cpp src/platform/native_file.cpp src/ui/console/*.cpp)
# The builder's compressors, never linked into the core or the stub: libdeflate for files read
# whole, zlib's streaming deflate for the few too large for memory.
find_package(ZLIB REQUIRED)
find_path(SELFX_LIBDEFLATE_INCLUDE libdeflate.h REQUIRED)
find_library(SELFX_LIBDEFLATE deflate REQUIRED)
find_package(Threads REQUIRED)
add_executable(selfx ${SELFX_CLI_SOURCES})
target_include_directories(selfx PRIVATE ${SELFX_LIBDEFLATE_INCLUDE})
target_link_libraries(selfx PRIVATE selfx_core ZLIB::ZLIB ${SELFX_LIBDEFLATE} Threads::Threads)
target_compile_definitions(selfx PRIVATE SELFX_VERSION="${PROJECT_VERSION}")

find_package(GTest REQUIRED)
include(GoogleTest)
file(GLOB SELFX_UNIT_TEST_SOURCES CONFIGURE_DEPENDS tests/unit/*.cpp)
# The command-line reader and the stub's resource writer are tested directly.
add_executable(selfx_unit_tests ${SELFX_UNIT_TEST_SOURCES} tests/common/zip_writer.cpp
               src/cli/front/command_line.cpp
               src/cli/pe/resource_section.cpp src/cli/pe/stub_identity.cpp src/platform/native_file.cpp
               src/cli/pe/stub_image.cpp src/cli/pack/block_splitter.cpp)
# The tests' shared helpers (test_support.h, scripted_ui.h, ...) by their own names.
target_include_directories(selfx_unit_tests PRIVATE tests/unit tests ${SELFX_LIBDEFLATE_INCLUDE})
target_link_libraries(selfx_unit_tests PRIVATE selfx_core GTest::gtest GTest::gtest_main ZLIB::ZLIB
                      ${SELFX_LIBDEFLATE})
target_compile_definitions(selfx_unit_tests PRIVATE SELFX_TOOL_PATH="$<TARGET_FILE:selfx>")
add_dependencies(selfx_unit_tests selfx)
# Test tables name only the fields a case is about.
target_compile_options(selfx_unit_tests PRIVATE -Wno-missing-field-initializers)
# The resource writer's tests need a real Windows program with the stub's resources, and the
# stub itself comes from the win32 preset, which a host build may not have made: a tiny one is
# linked from res/stub.rc here.
find_program(SELFX_MINGW_GCC i686-w64-mingw32-gcc)
find_program(SELFX_MINGW_WINDRES i686-w64-mingw32-windres)
set(SELFX_RESOURCE_FIXTURE "")
if(SELFX_MINGW_GCC AND SELFX_MINGW_WINDRES)
  set(SELFX_RESOURCE_FIXTURE ${CMAKE_BINARY_DIR}/resource-fixture.exe)
  add_custom_command(OUTPUT ${SELFX_RESOURCE_FIXTURE}
    COMMAND ${SELFX_MINGW_WINDRES} -I ${CMAKE_SOURCE_DIR}/res ${CMAKE_SOURCE_DIR}/res/stub.rc
            -O coff -o resource-fixture.res.o
    COMMAND ${SELFX_MINGW_GCC} -Os -s -mwindows ${CMAKE_SOURCE_DIR}/tests/unit/resource_fixture.c
            resource-fixture.res.o -o ${SELFX_RESOURCE_FIXTURE}
    DEPENDS res/stub.rc res/stub.manifest res/unzip.ico res/resource.h
            tests/unit/resource_fixture.c
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR} VERBATIM)
  add_custom_target(selfx_resource_fixture DEPENDS ${SELFX_RESOURCE_FIXTURE})
  add_dependencies(selfx_unit_tests selfx_resource_fixture)
else()
  message(WARNING "mingw-w64 not found (scripts/setup installs it): the resource tests are skipped")
endif()
target_compile_definitions(selfx_unit_tests PRIVATE
                           SELFX_RESOURCE_FIXTURE="${SELFX_RESOURCE_FIXTURE}")
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

# The manual page, made from the program's own help, and the installation: selfx with the
# stub beside it (where it looks first), the manual page and the bash completion.
find_program(SELFX_HELP2MAN help2man)
if(SELFX_HELP2MAN)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/selfx.1
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-man-page $<TARGET_FILE:selfx> ${CMAKE_BINARY_DIR}/selfx.1
    DEPENDS selfx ${CMAKE_SOURCE_DIR}/scripts/make-man-page VERBATIM)
  add_custom_target(selfx_man_page ALL DEPENDS ${CMAKE_BINARY_DIR}/selfx.1)
else()
  message(WARNING "help2man not found (scripts/setup installs it): no manual page")
endif()

include(GNUInstallDirs)
install(TARGETS selfx RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set(SELFX_INSTALL_STUB ${CMAKE_SOURCE_DIR}/build/win32/selfx-stub.exe CACHE FILEPATH
    "The stub installed beside selfx (made by the win32 preset)")
install(FILES ${SELFX_INSTALL_STUB} DESTINATION ${CMAKE_INSTALL_BINDIR} OPTIONAL)
install(CODE "if(NOT EXISTS \"${SELFX_INSTALL_STUB}\")
  message(WARNING \"${SELFX_INSTALL_STUB} does not exist: build the win32 preset first; selfx is installed without its stub\")
endif()")
if(SELFX_HELP2MAN)
  install(FILES ${CMAKE_BINARY_DIR}/selfx.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES share/bash-completion/completions/selfx
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
add_test(NAME install COMMAND ${CMAKE_SOURCE_DIR}/tests/install/install_test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(install PROPERTIES TIMEOUT 120)
