#include "mkpatch/exe_build.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace vard::mkpatch {
namespace {

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

void Run(const std::string& command) {
  // Build chatter goes to stderr so that stdout keeps the summary.
  const int status = std::system((command + " 1>&2").c_str());
  if (status != 0) throw std::runtime_error("exe build failed: " + command);
}

}  // namespace

std::filesystem::path PatcherSourceDir() {
  if (const char* dir = std::getenv("VARD_SOURCE_DIR"); dir && *dir) return dir;
  return VARD_SOURCE_DIR;
}

void BuildPatcherExes(const std::filesystem::path& rc_script, const std::filesystem::path& out) {
  const std::filesystem::path source = PatcherSourceDir();
  for (const char* preset : {"win32", "win64"}) {
    const std::filesystem::path build = std::filesystem::absolute(out / ".build" / preset);
    Run("cmake -S " + Quote(source.string()) + " -B " + Quote(build.string()) +
        " -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=" +
        Quote((source / "cmake" / ("toolchain-" + std::string(preset) + ".cmake")).string()) +
        " -DVARD_PATCH_RC=" + Quote(std::filesystem::absolute(rc_script).string()) + " >/dev/null");
    Run("cmake --build " + Quote(build.string()) + " --target patcher -j2");
    std::filesystem::copy_file(build / "patcher.exe", out / ("patcher-" + std::string(preset) + ".exe"),
                               std::filesystem::copy_options::overwrite_existing);
  }
}

}  // namespace vard::mkpatch
