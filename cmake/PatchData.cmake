# patcher.exe of a Windows build: the patcher stub (src/resources) with the demo patch
# written in by a native mkpatch, as a studio's build server makes its patchers. The demo
# game is generated, `mkpatch build --resources-only` writes its patch into
# <build>/demo-patch/resources and `mkpatch embed` writes that into a copy of the stub.
# The native mkpatch is built from this source tree as an external project (in
# VARD_NATIVE_TOOLS_DIR, default build/native-tools of the source tree, shared by the win32
# and win64 presets; with the host compiler) unless VARD_NATIVE_MKPATCH names one. Sets
# VARD_PATCHER_EXE and the global property VARD_PATCH_DATA_RC (the patch's resource
# script, for test programs that compile the demo patch in).
# -DVARD_NATIVE_MKPATCH=<path> uses a native mkpatch built elsewhere (scripts/test passes
# the native preset's) instead of building one more. The mkpatch used is in the global
# property VARD_MKPATCH, behind the target vard_native_mkpatch.
set(VARD_NATIVE_MKPATCH "" CACHE FILEPATH
  "Native mkpatch that makes the demo patch (empty: built here as an external project)")
if(VARD_NATIVE_MKPATCH)
  set(_mkpatch ${VARD_NATIVE_MKPATCH})
  add_custom_target(vard_native_mkpatch)
else()
  include(ExternalProject)
  set(VARD_NATIVE_TOOLS_DIR ${PROJECT_SOURCE_DIR}/build/native-tools CACHE PATH
    "Build folder of the native mkpatch that makes the demo patch")
  set(_tools ${VARD_NATIVE_TOOLS_DIR})
  set(_mkpatch ${_tools}/mkpatch)
  ExternalProject_Add(vard_native_mkpatch
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${_tools}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
    CMAKE_GENERATOR Ninja
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${_tools} --target mkpatch
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${_mkpatch}
    USES_TERMINAL_BUILD ON)
endif()
set_property(GLOBAL PROPERTY VARD_MKPATCH ${_mkpatch})

set(_demo ${CMAKE_BINARY_DIR}/demo-game)
set(_out ${CMAKE_BINARY_DIR}/demo-patch)
set(VARD_PATCH_DATA_RC ${_out}/resources/patch_data.rc)
add_custom_command(OUTPUT ${VARD_PATCH_DATA_RC}
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/demo/make_demo.py ${_demo}
  COMMAND ${_mkpatch} build ${_demo}/demo.toml --out ${_out} --resources-only
    --diff-format ${VARD_DIFF_FORMAT}
  DEPENDS ${_mkpatch} vard_native_mkpatch ${PROJECT_SOURCE_DIR}/demo/make_demo.py
    ${PROJECT_SOURCE_DIR}/demo/make_art.py ${PROJECT_SOURCE_DIR}/scripts/make_skins.py
    ${PROJECT_SOURCE_DIR}/demo/demo.toml
  COMMENT "Building the demo patch with the native mkpatch")
set_property(GLOBAL PROPERTY VARD_PATCH_DATA_RC ${VARD_PATCH_DATA_RC})

set(VARD_PATCHER_EXE ${CMAKE_BINARY_DIR}/patcher.exe CACHE INTERNAL "The stub with the demo patch")
add_custom_command(OUTPUT ${VARD_PATCHER_EXE}
  COMMAND ${_mkpatch} embed ${_out}/resources $<TARGET_FILE:patcher_stub> ${VARD_PATCHER_EXE}
    >/dev/null
  DEPENDS ${VARD_PATCH_DATA_RC} patcher_stub ${_mkpatch} vard_native_mkpatch
  COMMENT "Writing the demo patch into the patcher stub")
add_custom_target(patcher ALL DEPENDS ${VARD_PATCHER_EXE})
