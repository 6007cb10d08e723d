# 32-bit Windows: the stub, the Windows build of the selfx tool, and the end-to-end tests.
# Also the 64-bit test build (cmake/mingw-x86_64.cmake): the same stub sources built for
# x86_64 so that the end-to-end suites run where Wine runs 64-bit programs only. That stub is
# never shipped: no size budget, no image check, and only what must differ differs (see
# SELFX_STUB_TEST_BUILD below).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(SELFX_STUB_TEST_BUILD ON)
else()
  set(SELFX_STUB_TEST_BUILD OFF)
endif()

set(SELFX_WIN32_LIBS comctl32 shell32 advapi32 user32 kernel32)

# The stub is overhead on every archive: size-optimised, no exceptions, no RTTI, the
# standard library's string classes instantiated once in the stub (stub/stub_runtime.cpp and
# stub/string_instances.h), stripped, and its unused sections dropped.
file(GLOB SELFX_STUB_SOURCES CONFIGURE_DEPENDS src/stub/*.cpp src/ui/win32/*.cpp)
# The platform layer as the stub has it: the part shared with the tool, and its own output
# functions, which write in place.
set(SELFX_STUB_PLATFORM_SOURCES ${CMAKE_SOURCE_DIR}/src/platform/win32.cpp
    ${CMAKE_SOURCE_DIR}/src/platform/win32_stub.cpp)
set(SELFX_STUB_CORE_SOURCES ${SELFX_CORE_SOURCES})
if(SELFX_STUB_TEST_BUILD)
  # The 64-bit stub reads its own headers as a PE32+ image.
  list(FILTER SELFX_STUB_CORE_SOURCES EXCLUDE REGEX "archive/pe_image\\.cpp$")
  list(APPEND SELFX_STUB_CORE_SOURCES ${CMAKE_SOURCE_DIR}/tests/e2e/stub64/pe_image_pe32plus.cpp)
endif()
add_executable(selfx-stub WIN32
  ${SELFX_STUB_CORE_SOURCES} ${SELFX_STUB_SOURCES} ${SELFX_STUB_PLATFORM_SOURCES} res/stub.rc)
target_include_directories(selfx-stub PRIVATE src res)
if(SELFX_STUB_TEST_BUILD)
  # Its manifest asks for the common controls of its own processor.
  file(READ ${CMAKE_SOURCE_DIR}/res/stub.manifest stub_manifest)
  string(REPLACE "processorArchitecture=\"x86\"" "processorArchitecture=\"amd64\""
         stub_manifest "${stub_manifest}")
  file(WRITE ${CMAKE_BINARY_DIR}/generated/stub-amd64.manifest "${stub_manifest}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/stub.manifest)
  target_include_directories(selfx-stub PRIVATE ${CMAKE_BINARY_DIR}/generated)
endif()
# No -fdata-sections: with it mingw's gcc puts zero-initialised tables (the CRC tables,
# 17 KB) into the file's data instead of leaving them to .bss. -fno-ipa-sra -fno-ipa-cp:
# gcc's copies of functions with their parameters rewritten or made constant cost more room
# than they save.
# The 64-bit test build keeps its unwind tables: 64-bit Windows finds the handler of a fault
# through them, and without them a fault would never reach the top-level filter.
if(SELFX_STUB_TEST_BUILD)
  set(stub_unwind_tables "")
else()
  set(stub_unwind_tables -fno-asynchronous-unwind-tables)
endif()
target_compile_options(selfx-stub PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:-Oz -fno-exceptions -fno-rtti ${stub_unwind_tables}
  -ffunction-sections -fno-ipa-sra -fno-ipa-cp -include ${CMAKE_SOURCE_DIR}/src/stub/string_instances.h>)
# Decoding and its CRC are where an extraction spends its time: those files alone are built for
# speed (source options follow the target's, so -O2 overrides -Oz for them, and they keep
# -O2's own choices). The tables, built once per block, stay small, and the decoder leaves out
# its final stretch, a second copy of the fast loop that saves the readable tables at the end
# of each entry (SELFX_COMPACT_DECODER): together 3.5 KB in every archive. Their code is not
# padded to alignment boundaries either: 380 bytes, for no speed that the 64-bit decode
# benchmark could tell apart.
set_source_files_properties(src/codec/inflate.cpp src/codec/crc32.cpp
                            PROPERTIES COMPILE_OPTIONS "-O2;-fipa-sra;-fipa-cp;-fno-align-functions;-fno-align-jumps;-fno-align-loops;-fno-align-labels")
target_compile_definitions(selfx-stub PRIVATE SELFX_COMPACT_DECODER)
# The stub starts at its own entry point (StubStart, stub/stub_main.cpp) instead of the C
# run-time's start-up code (see stub/stub_runtime.cpp), and links only the import libraries it
# calls, msvcrt for the few memory and string routines that the compiler and the standard
# library call, and libgcc's helpers. Its sections are laid out by stub/sections.ld.
# C names carry a leading underscore on i686 only. The 64-bit test build keeps the linker's own
# layout (sections.ld is written for PE32: 4-byte constructor entries).
if(SELFX_STUB_TEST_BUILD)
  target_link_options(selfx-stub PRIVATE -nostdlib -Wl,-e,StubStart -s -Wl,--gc-sections -mwindows)
else()
  target_link_options(selfx-stub PRIVATE -nostdlib -Wl,-e,_StubStart -s -Wl,--gc-sections -mwindows
    -Wl,-T,${CMAKE_SOURCE_DIR}/src/stub/sections.ld)
  set_property(TARGET selfx-stub APPEND PROPERTY LINK_DEPENDS
               ${CMAKE_SOURCE_DIR}/src/stub/sections.ld)
endif()
set(SELFX_STUB_LIBS ${SELFX_WIN32_LIBS} msvcrt gcc)
target_link_libraries(selfx-stub PRIVATE ${SELFX_STUB_LIBS})

# The linker's DOS program goes (cmake/drop_dos_program.py says why). Then every build reports
# the stub's size and checks its form (PE32, i386, GUI, nothing behind the image, no ZIP
# signature in it); the test does the same for CTest.
if(NOT SELFX_STUB_TEST_BUILD)
  add_custom_command(TARGET selfx-stub POST_BUILD
    COMMAND python3 ${CMAKE_SOURCE_DIR}/cmake/drop_dos_program.py $<TARGET_FILE:selfx-stub>
    COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/check_stub_image.py $<TARGET_FILE:selfx-stub>
    VERBATIM)
  add_test(NAME stub_image COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/check_stub_image.py
           $<TARGET_FILE:selfx-stub>)
endif()

# The core for everything else built for Windows.
# What only the command-line tool needs of the platform layer (win32_tool.cpp) stays out of
# the stub.
add_library(selfx_core STATIC ${SELFX_CORE_SOURCES} src/platform/win32.cpp
            src/platform/win32_tool.cpp)
target_include_directories(selfx_core PUBLIC src)
target_link_libraries(selfx_core PUBLIC ${SELFX_WIN32_LIBS})
# Public: whatever links this core declares its per-thread state as it was defined.
target_compile_definitions(selfx_core PUBLIC SELFX_TOOL_BUILD)

file(GLOB SELFX_CLI_SOURCES CONFIGURE_DEPENDS src/cli/*/*.cpp src/platform/native_file.cpp src/ui/console/*.cpp)
# The builder's compressors, linked in: zlib from libz-mingw-w64-dev, and libdeflate, which
# scripts/setup cross-builds from Debian's source package into build/libdeflate-mingw (and
# build/libdeflate-mingw-x86_64 for the 64-bit test build).
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
if(SELFX_STUB_TEST_BUILD)
  set(SELFX_LIBDEFLATE_DIR ${CMAKE_SOURCE_DIR}/build/libdeflate-mingw-x86_64)
else()
  set(SELFX_LIBDEFLATE_DIR ${CMAKE_SOURCE_DIR}/build/libdeflate-mingw)
endif()
find_path(SELFX_LIBDEFLATE_INCLUDE libdeflate.h PATHS ${SELFX_LIBDEFLATE_DIR}/include
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_library(SELFX_LIBDEFLATE NAMES libdeflate.a PATHS ${SELFX_LIBDEFLATE_DIR}/lib
             NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT SELFX_LIBDEFLATE_INCLUDE OR NOT SELFX_LIBDEFLATE)
  message(FATAL_ERROR "libdeflate for mingw is not in ${SELFX_LIBDEFLATE_DIR}: run scripts/setup")
endif()
add_executable(selfx ${SELFX_CLI_SOURCES})
target_include_directories(selfx PRIVATE ${SELFX_LIBDEFLATE_INCLUDE})
target_link_libraries(selfx PRIVATE selfx_core ZLIB::ZLIB ${SELFX_LIBDEFLATE})
target_compile_definitions(selfx PRIVATE SELFX_VERSION="${PROJECT_VERSION}")
target_link_options(selfx PRIVATE -static)

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/CMakeLists.txt)
  add_subdirectory(tests/e2e)
endif()
