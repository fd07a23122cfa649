# mkpatch as a studio installs it: `cmake --install build/native --prefix P` installs
# P/bin/mkpatch and the two patcher stubs as P/share/vard/patcher-win32.exe and
# patcher-win64.exe, where mkpatch looks for them (share/vard beside its bin folder);
# `cmake --build --preset native --target package` writes the same as a Debian package
# (vard-mkpatch_<version>_<arch>.deb, installed under /usr).
#
# The stubs come from the Windows presets: build them first with
#   cmake --build --preset win32 --target patcher_stub
#   cmake --build --preset win64 --target patcher_stub
# (VARD_STUB_WIN32 and VARD_STUB_WIN64 name stubs built elsewhere).
set(VARD_STUB_WIN32 ${PROJECT_SOURCE_DIR}/build/win32/patcher-stub.exe CACHE FILEPATH
  "The win32 patcher stub that install and package ship")
set(VARD_STUB_WIN64 ${PROJECT_SOURCE_DIR}/build/win64/patcher-stub.exe CACHE FILEPATH
  "The win64 patcher stub that install and package ship")

install(TARGETS mkpatch RUNTIME DESTINATION bin)
foreach(arch win32 win64)
  string(TOUPPER ${arch} _upper)
  set(_stub ${VARD_STUB_${_upper}})
  install(CODE "if(NOT EXISTS \"${_stub}\")
    message(FATAL_ERROR \"the ${arch} patcher stub ${_stub} does not exist: build it with \"
      \"`cmake --build --preset ${arch} --target patcher_stub`, or name one with -DVARD_STUB_${_upper}=\")
  endif()")
  install(PROGRAMS ${_stub} DESTINATION share/vard RENAME patcher-${arch}.exe)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vard-mkpatch)
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Vard patch builder: turns two versions of a game into a Windows patcher")
set(CPACK_PACKAGE_DESCRIPTION "mkpatch compares two versions of a game, encodes the \
changed files and writes the patch into the prebuilt 32-bit and 64-bit Vard patchers it \
ships with; no compiler is needed at patch time.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vard developers")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The shared libraries mkpatch loads, as dpkg-shlibdeps finds them: libc and libdivsufsort
# (the others are linked in, tools/mkpatch/CMakeLists.txt); signing calls osslsigncode.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS osslsigncode)
include(CPack)
