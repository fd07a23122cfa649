#include "mkpatch/output/exe_build.h"

#include <cstdlib>
#include <fstream>
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

void SignPatcher(const std::filesystem::path& exe, const SigningSetup& sign,
                 const std::string& product) {
  const std::filesystem::path unsigned_copy = exe.string() + ".unsigned";
  std::filesystem::rename(exe, unsigned_copy);
  std::string command = "osslsigncode sign -certs " + Quote(sign.certificate.string()) + " -key " +
                        Quote(sign.key.string()) + " -h sha256 -n " + Quote(product);
  if (!sign.timestamp_url.empty()) command += " -ts " + Quote(sign.timestamp_url);
  command += " -in " + Quote(unsigned_copy.string()) + " -out " + Quote(exe.string()) + " >/dev/null";
  try {
    Run(command);
  } catch (...) {
    std::filesystem::rename(unsigned_copy, exe);
    throw;
  }
  std::filesystem::remove(unsigned_copy);
  // Trusted: the signer's own certificate file (a self-signed test certificate, or a chain)
  // and the system's authorities, for a certificate a CA issued.
  const std::filesystem::path trust = exe.string() + ".trust.pem";
  {
    std::ofstream out(trust, std::ios::binary);
    out << std::ifstream(sign.certificate, std::ios::binary).rdbuf();
    std::ifstream system("/etc/ssl/certs/ca-certificates.crt", std::ios::binary);
    if (system) out << "\n" << system.rdbuf();
  }
  try {
    Run("osslsigncode verify -in " + Quote(exe.string()) + " -CAfile " + Quote(trust.string()) +
        " >/dev/null");
  } catch (...) {
    std::filesystem::remove(trust);
    throw std::runtime_error("the signature of " + exe.string() + " does not verify");
  }
  std::filesystem::remove(trust);
}

void BuildPatcherExes(const std::filesystem::path& rc_script, const std::filesystem::path& out,
                      const std::filesystem::path& build_root, const Project& project) {
  const std::filesystem::path source = PatcherSourceDir();
  for (const char* preset : {"win32", "win64"}) {
    const std::filesystem::path build = std::filesystem::absolute(build_root / preset);
    Run("cmake -S " + Quote(source.string()) + " -B " + Quote(build.string()) +
        " -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=" +
        Quote((source / "cmake" / ("toolchain-" + std::string(preset) + ".cmake")).string()) +
        " -DVARD_PATCH_RC=" + Quote(std::filesystem::absolute(rc_script).string()) + " >/dev/null");
    Run("cmake --build " + Quote(build.string()) + " --target patcher -j2");
    const std::filesystem::path exe = out / ("patcher-" + std::string(preset) + ".exe");
    std::filesystem::copy_file(build / "patcher.exe", exe,
                               std::filesystem::copy_options::overwrite_existing);
    if (!project.sign.certificate.empty())
      SignPatcher(exe, project.sign, project.version_info.product);
  }
}

}  // namespace vard::mkpatch
