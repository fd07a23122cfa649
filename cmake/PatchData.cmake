# The patch data patcher.exe embeds: the main manifest, the pack manifests and the payloads,
# the version resource and the project's skin images, listed by a resource script that
# `mkpatch build` writes (resources/patch_data.rc).
#
# -DVARD_PATCH_RC=<folder>/patch_data.rc embeds that patch (mkpatch's exe build passes it).
# Left empty, the build embeds the demo patch: a native mkpatch is built from this source
# tree as an external project (in VARD_NATIVE_TOOLS_DIR, default build/native-tools of the
# source tree, shared by the win32 and win64 presets; with the host compiler), the demo
# game is generated and its patch built into <build>/demo-patch before the resources are
# compiled. Sets VARD_PATCH_DATA_RC and VARD_PATCH_DATA_DEPENDS for patcher.rc, and
# VARD_PATCH_ICON when the patch brings its own icon.
set(VARD_PATCH_RC "" CACHE FILEPATH "Resource script of the patch to embed (empty: the demo patch)")

if(VARD_PATCH_RC)
  if(NOT EXISTS ${VARD_PATCH_RC})
    message(FATAL_ERROR "VARD_PATCH_RC: ${VARD_PATCH_RC} does not exist")
  endif()
  get_filename_component(_patch_dir ${VARD_PATCH_RC} DIRECTORY)
  file(GLOB _patch_files CONFIGURE_DEPENDS ${_patch_dir}/*.xml ${_patch_dir}/*.bin
    ${_patch_dir}/*.png)
  set(VARD_PATCH_DATA_RC ${VARD_PATCH_RC})
  set(VARD_PATCH_DATA_DEPENDS ${VARD_PATCH_RC} ${_patch_files})
  # A project's own icon (skin.icon) is written beside the script.
  if(EXISTS ${_patch_dir}/101.ico)
    set(VARD_PATCH_ICON ${_patch_dir}/101.ico)
  endif()
  set_property(GLOBAL PROPERTY VARD_PATCH_DATA_RC ${VARD_PATCH_DATA_RC})
  return()
endif()

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
set(VARD_PATCH_DATA_DEPENDS ${VARD_PATCH_DATA_RC})
set_property(GLOBAL PROPERTY VARD_PATCH_DATA_RC ${VARD_PATCH_DATA_RC})
