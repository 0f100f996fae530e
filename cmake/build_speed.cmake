# What keeps the host trees' builds short. Nothing here reaches the UEFI
# images: their objects carry their own options and cmake/efi_image.cmake
# links them with ld and gnu-efi's script, so they stay byte for byte the same.
#
# TIV_LLD: host programs (twenty test programs, platsim, fvtool, the fuzz
#   targets) link with lld when it is installed, several times faster than
#   the default linker on programs this size.
# In the sanitizer tree the libraries (the drivers, the simulator, the record
#   decoder, fvtool's library), which the tests and the fuzz targets spend
#   their time in, keep -O1; the test programs and the command-line front ends
#   are built at -O0, which halves their compile time (CLI11's inline code is
#   most of it) and costs the tests a few seconds. In the host tree the test
#   programs' own code is built at -O0 too (half the compile time of -O2);
#   the code they test keeps -O2, and platsim's command-line wiring (not its
#   translation path) -O1 (tools/platsim/CMakeLists.txt).
# TIV_PCH: the heavy third-party headers are parsed once per target instead of
#   once per source: GoogleTest and GoogleMock in the test programs, CLI11 in
#   the command-line programs, the JSON library where profiles are read. Only
#   with clang (the sanitizer tree): g++ 12 compiles a precompiled system
#   header as if it were the project's own, so a warning inside GoogleTest
#   (-Warray-bounds) becomes an error; there every source parses them itself.
option(TIV_LLD "Link host programs with lld when it is installed" ON)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(tiv_pch_default ON)
else()
  set(tiv_pch_default OFF)
endif()
option(TIV_PCH "Precompile the test, command-line and JSON headers (clang)" ${tiv_pch_default})

function(tiv_collect_targets DIR OUT)
  get_property(targets DIRECTORY ${DIR} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${DIR} PROPERTY SUBDIRECTORIES)
  foreach(sub ${subdirs})
    tiv_collect_targets(${sub} sub_targets)
    list(APPEND targets ${sub_targets})
  endforeach()
  set(${OUT} ${targets} PARENT_SCOPE)
endfunction()

# Called once at the end of the top-level CMakeLists.txt, when every target exists.
function(tiv_build_speed)
  if(TIV_LLD)
    find_program(TIV_LLD_PROGRAM ld.lld)
  endif()
  tiv_collect_targets(${CMAKE_SOURCE_DIR} targets)
  foreach(t ${targets})
    get_target_property(type ${t} TYPE)
    get_target_property(image ${t} TIV_EFI_IMAGE)
    if(image OR NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|OBJECT_LIBRARY)$")
      continue()
    endif()
    if(TIV_SANITIZE AND (t MATCHES "^test_" OR t MATCHES "^(platsim_commands|platsim|platsim-diag|fvtool)$"))
      target_compile_options(${t} PRIVATE -O0)
    endif()
    if(type STREQUAL "EXECUTABLE" AND TIV_LLD AND TIV_LLD_PROGRAM)
      target_link_options(${t} PRIVATE -fuse-ld=lld)
    endif()
    if(NOT TIV_SANITIZE AND t MATCHES "^test_")
      target_compile_options(${t} PRIVATE -O0)
    endif()
    if(NOT TIV_PCH)
      continue()
    endif()
    get_target_property(libs ${t} LINK_LIBRARIES)
    if(t MATCHES "^test_")
      # The test programs share one precompiled header per driver build they
      # link: clang takes a header only with the very macros it was made with
      # (TIV_DIAG_PRINT_ENABLED comes with the driver library).
      if("tiv_atd_diag" IN_LIST libs)
        tiv_test_pch_anchor(diag_on "TIV_DIAG_PRINT_ENABLED=1" anchor)
      elseif("tiv_atd" IN_LIST libs)
        tiv_test_pch_anchor(driver "TIV_DIAG_PRINT_ENABLED=0" anchor)
      else()
        tiv_test_pch_anchor(plain "" anchor)
      endif()
      target_precompile_headers(${t} REUSE_FROM ${anchor})
      get_target_property(srcs ${t} SOURCES)
      list(FILTER srcs INCLUDE REGEX "\\.c$")
      set_source_files_properties(${srcs} TARGET_DIRECTORY ${t} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
      continue()
    endif()
    get_target_property(srcs ${t} SOURCES)
    list(FILTER srcs INCLUDE REGEX "\\.cpp$")
    list(LENGTH srcs cxx_sources)
    if(cxx_sources LESS 3)
      continue()  # a precompiled header costs about as much as two sources save
    endif()
    set(headers)
    if("CLI11::CLI11" IN_LIST libs)
      list(APPEND headers <CLI/CLI.hpp>)
    endif()
    if("CLI11::CLI11" IN_LIST libs OR t STREQUAL "tiv_sim")
      list(APPEND headers <nlohmann/json.hpp>)
    endif()
    if(headers)
      list(TRANSFORM headers PREPEND "$<$<COMPILE_LANGUAGE:CXX>:")
      list(TRANSFORM headers APPEND ">")
      target_precompile_headers(${t} PRIVATE ${headers})
    endif()
  endforeach()
endfunction()

# The target whose precompiled header the test programs of one family reuse:
# compiled with the options and definitions every test program has
# (tests/CMakeLists.txt), plus DEFS.
function(tiv_test_pch_anchor FAMILY DEFS OUT)
  set(anchor tiv_pch_test_${FAMILY})
  set(${OUT} ${anchor} PARENT_SCOPE)
  if(TARGET ${anchor})
    return()
  endif()
  add_library(${anchor} OBJECT ${CMAKE_SOURCE_DIR}/cmake/pch_anchor.cpp)
  target_link_libraries(${anchor} PRIVATE GTest::gtest GTest::gmock nlohmann_json::nlohmann_json)
  target_compile_definitions(${anchor} PRIVATE TIV_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                             TIV_BINARY_DIR="${CMAKE_BINARY_DIR}" ${DEFS})
  if(TIV_SANITIZE)
    target_compile_options(${anchor} PRIVATE -O0)
  endif()
  target_precompile_headers(${anchor} PRIVATE <gtest/gtest.h> <gmock/gmock.h> <nlohmann/json.hpp>)
endfunction()
