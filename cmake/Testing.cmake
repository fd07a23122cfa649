# Test registration shared by every preset. Native tests run directly; Windows tests run
# through scripts/wine-run (the crosscompiling emulator) in a Wine prefix of this build
# directory. The win32 preset only registers tests that inspect files (label "static").
if(WIN32)
  set(VARD_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run ${VARD_WINEPREFIX})
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VARD_RUNS_WINDOWS_TESTS ON)
  else()
    set(VARD_RUNS_WINDOWS_TESTS OFF)
  endif()
endif()

# vard_add_gtest(NAME name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT s])
# One executable per subsystem keeps Wine start-ups few. On win32 the executable is
# defined but neither registered nor part of the default build (tests/CMakeLists.txt).
function(vard_add_gtest)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gtest)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  # A test program is compiled as one file: its sources share the test framework's and the
  # standard library's headers, which otherwise take most of each source's compile time.
  set_target_properties(${T_NAME} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 0)
  if(WIN32 AND NOT VARD_RUNS_WINDOWS_TESTS)
    return()
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(_labels ${T_LABELS})
  if(WIN32)
    list(APPEND _labels wine)
  else()
    list(APPEND _labels native)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${_labels}")
endfunction()
