# Fuzz targets. Every target is a file defining LLVMFuzzerTestOneInput and is built twice:
# NAME_replay (every native build, any compiler) runs it over the files of its corpus folder
# as a CTest test, and NAME_fuzz (only with -DVARD_FUZZ=ON and clang, see scripts/fuzz) is
# the libFuzzer binary for campaigns. In a VARD_FUZZ build everything, libpng and TinyXML
# included, is compiled with coverage, AddressSanitizer and UndefinedBehaviorSanitizer.
option(VARD_FUZZ "Build libFuzzer targets with ASan and UBSan (clang only)" OFF)
if(VARD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR WIN32)
    message(FATAL_ERROR "VARD_FUZZ needs a native clang build (scripts/fuzz sets one up)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined
    -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# vard_add_fuzz(NAME name SOURCES ... CORPUS folder LIBS ... [GENERATOR file])
# CORPUS is relative to the calling folder. The replay driver is
# tests/test_support/fuzz_replay_main.cpp; GENERATOR is a source of the replay only that
# adds generated inputs after the corpus (tests/test_support/fuzz_replay.h).
function(vard_add_fuzz)
  if(WIN32)
    return()
  endif()
  cmake_parse_arguments(F "" "NAME;CORPUS;GENERATOR" "SOURCES;LIBS" ${ARGN})
  add_executable(${F_NAME}_replay ${F_SOURCES} ${F_GENERATOR}
    ${PROJECT_SOURCE_DIR}/tests/test_support/fuzz_replay_main.cpp)
  target_link_libraries(${F_NAME}_replay PRIVATE ${F_LIBS})
  target_include_directories(${F_NAME}_replay PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  add_test(NAME ${F_NAME}_replay
    COMMAND ${F_NAME}_replay ${CMAKE_CURRENT_SOURCE_DIR}/${F_CORPUS})
  set_tests_properties(${F_NAME}_replay PROPERTIES LABELS "native;fuzz" TIMEOUT 300)
  if(VARD_FUZZ)
    add_executable(${F_NAME}_fuzz ${F_SOURCES})
    target_link_libraries(${F_NAME}_fuzz PRIVATE ${F_LIBS})
    target_include_directories(${F_NAME}_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_link_options(${F_NAME}_fuzz PRIVATE -fsanitize=fuzzer)
    # scripts/fuzz finds every fuzzer and the corpus it belongs to in one folder.
    set_target_properties(${F_NAME}_fuzz PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    file(WRITE ${CMAKE_BINARY_DIR}/fuzz/${F_NAME}.corpus ${CMAKE_CURRENT_SOURCE_DIR}/${F_CORPUS})
  endif()
endfunction()
