#include "mkpatch/output/patcher_exe.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <stdexcept>

#include "mkpatch/common/file_io.h"
#include "mkpatch/common/input_error.h"
#include "mkpatch/output/exe_writer.h"
#include "mkpatch/output/overlay.h"
#include "mkpatch/output/resource_folder.h"

namespace vard::mkpatch {
namespace {

const ResourceKey kData = ResourceKey::Name("DATA");
constexpr uint16_t kIconId = 101;
constexpr uint16_t kNeutral = 0;  // the language of every resource the patch brings

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

void Run(const std::string& command) {
  // Tool chatter goes to stderr so that stdout keeps the summary.
  const int status = std::system((command + " 1>&2").c_str());
  if (status != 0) throw std::runtime_error("command failed: " + command);
}

uint16_t Get16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint32_t Get32(const Bytes& b, size_t at) {
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}
void Put16(Bytes& b, uint16_t value) {
  b.push_back(static_cast<uint8_t>(value));
  b.push_back(static_cast<uint8_t>(value >> 8));
}

// An .ico file as the resources an executable carries: one RT_ICON per image, and the
// group that lists them (the file's directory with each image's offset replaced by the
// RT_ICON id). Images take the lowest ids no other icon uses.
void PutIcon(ResourceTree& tree, const Bytes& ico, const std::filesystem::path& path,
             uint16_t language) {
  auto bad = [&](const std::string& why) {
    return InputError(path.string() + " is not a usable .ico file: " + why);
  };
  if (ico.size() < 6 || Get16(ico, 0) != 0 || Get16(ico, 2) != 1) throw bad("no icon header");
  const uint16_t count = Get16(ico, 4);
  if (count == 0) throw bad("it holds no image");
  if (6 + size_t{count} * 16 > ico.size()) throw bad("its directory runs past the end of the file");
  auto& icons = tree[ResourceKey::Id(kTypeIcon)];
  Bytes group;
  Put16(group, 0);
  Put16(group, 1);
  Put16(group, count);
  uint16_t next_id = 1;
  for (uint16_t i = 0; i < count; ++i) {
    const size_t entry = 6 + size_t{i} * 16;
    const uint32_t size = Get32(ico, entry + 8), offset = Get32(ico, entry + 12);
    if (size == 0 || offset > ico.size() || size > ico.size() - offset)
      throw bad("image " + std::to_string(i + 1) + " lies outside the file");
    while (icons.count(ResourceKey::Id(next_id))) ++next_id;
    icons[ResourceKey::Id(next_id)][language] = {{ico.begin() + offset, ico.begin() + offset + size}, 0};
    group.insert(group.end(), ico.begin() + entry, ico.begin() + entry + 12);
    Put16(group, next_id++);
  }
  tree[ResourceKey::Id(kTypeGroupIcon)][ResourceKey::Id(kIconId)][language] = {group, 0};
}

// Removes icon group `id` and the images it lists; returns the group's language.
uint16_t RemoveIconGroup(ResourceTree& tree, uint16_t id) {
  uint16_t language = kNeutral;
  auto groups = tree.find(ResourceKey::Id(kTypeGroupIcon));
  if (groups == tree.end()) return language;
  auto group = groups->second.find(ResourceKey::Id(id));
  if (group == groups->second.end()) return language;
  auto icons = tree.find(ResourceKey::Id(kTypeIcon));
  for (const auto& [lang, data] : group->second) {
    language = lang;
    const Bytes& g = data.bytes;
    const size_t count = g.size() >= 6 ? Get16(g, 4) : 0;
    for (size_t i = 0; i < count && 6 + (i + 1) * 14 <= g.size(); ++i)
      if (icons != tree.end()) icons->second.erase(ResourceKey::Id(Get16(g, 6 + i * 14 + 12)));
  }
  groups->second.erase(group);
  if (groups->second.empty()) tree.erase(groups);
  if (icons != tree.end() && icons->second.empty()) tree.erase(icons);
  return language;
}

// The id of a "DATA" resource file of the folder (<id>.xml, <id>.bin, <id>.png), or 0.
uint16_t DataId(const std::filesystem::path& file) {
  const std::string stem = file.stem().string(), extension = file.extension().string();
  if (extension != ".xml" && extension != ".bin" && extension != ".png") return 0;
  if (stem.empty() || stem.size() > 5 || !std::all_of(stem.begin(), stem.end(), [](char c) { return c >= '0' && c <= '9'; })) return 0;
  const long id = std::stol(stem);
  return id > 0 && id <= 0xFFFF ? static_cast<uint16_t>(id) : 0;
}

}  // namespace

const char* ArchName(StubArch arch) { return arch == StubArch::kWin32 ? "win32" : "win64"; }

std::filesystem::path StubFolder(const std::filesystem::path& dir) {
  if (!dir.empty()) return dir;
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) throw InputError("cannot find the running mkpatch (/proc/self/exe); name the stubs' folder with --stubs");
  return self.parent_path().parent_path() / "share" / "vard";
}

std::filesystem::path StubPath(const std::filesystem::path& folder, StubArch arch) {
  return folder / (std::string("patcher-") + ArchName(arch) + ".exe");
}

Stub LoadStub(const std::filesystem::path& path, StubArch arch) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error))
    throw InputError("patcher stub " + path.string() + " is missing (install mkpatch with its stubs, or name their folder with --stubs)");
  const std::string what = "patcher stub " + path.string();
  try {
    PeImage image(ReadWholeFile(path));
    const uint16_t machine = arch == StubArch::kWin32 ? kMachineI386 : kMachineAmd64;
    if (image.machine() != machine || image.is_pe32_plus() != (arch == StubArch::kWin64))
      throw InputError(what + " is not a " + ArchName(arch) + " executable");
    ResourceTree resources = ReadResources(image);
    const ResourceKey marker = ResourceKey::Name(kStubMarkerName);
    const auto data = resources.find(kData);
    if (data == resources.end() || !data->second.count(marker))
      throw InputError(what + " is not a Vard patcher stub (it carries no " + kStubMarkerName +
                       " resource)");
    for (const auto& [language, text] : data->second.at(marker)) {
      const std::string found(text.bytes.begin(), std::find(text.bytes.begin(), text.bytes.end(), 0));
      if (found != kStubMarkerText)
        throw InputError(what + " is a stub of another Vard version (\"" + found + "\", this mkpatch writes \"" +
                         kStubMarkerText + "\")");
    }
    return {path, std::move(image), std::move(resources)};
  } catch (const PeError& e) {
    throw InputError(what + " is damaged: " + e.what());
  }
}

void WritePatcherExe(const Stub& stub, const std::filesystem::path& resources,
                     const std::filesystem::path& out) {
  ResourceTree tree = stub.resources;
  auto& data = tree[kData];
  data.erase(ResourceKey::Name(kStubMarkerName));
  // Sorted, so that the tree (and the file) never depends on the folder's listing order.
  std::set<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(resources))
    if (entry.is_regular_file()) files.insert(entry.path());
  const std::vector<OverlayPayload> overlay = ReadOverlayList(resources);
  for (const OverlayPayload& p : overlay) files.erase(PayloadPath(resources, p.id));
  bool has_main_manifest = false;
  for (const std::filesystem::path& file : files) {
    if (const uint16_t id = DataId(file)) {
      // Payloads stay on disk until the file is written; the rest is small.
      data[ResourceKey::Id(id)] = {{kNeutral, file.extension() == ".bin"
                                                  ? ResourceData::FromFile(file, std::filesystem::file_size(file))
                                                  : ResourceData(ReadWholeFile(file), 0)}};
      has_main_manifest |= id == kMainManifestId;
    } else if (file.filename() == kVersionName) {
      tree[ResourceKey::Id(kTypeVersion)] = {{ResourceKey::Id(1), {{kNeutral, {ReadWholeFile(file), 0}}}}};
    } else if (file.filename() == kIconName) {
      const uint16_t language = RemoveIconGroup(tree, kIconId);
      PutIcon(tree, ReadWholeFile(file), file, language);
    }
  }
  if (!has_main_manifest)
    throw InputError(resources.string() + " holds no main manifest " + std::to_string(kMainManifestId) +
                     ".xml; is it a resources folder of mkpatch build?");

  PeImage image = stub.image;
  image.RemoveCertificate();
  const SectionContent section = ReserveResources(image, tree);
  const std::filesystem::path partial = out.string() + ".partial";
  try {
    // The image with its resource section streamed into the room reserved for it, then the
    // overlay: memory holds the stub's image and the resource directory, never the payloads.
    ExeWriter file(partial, image.checksum_offset());
    const Bytes& bytes = image.bytes();
    const size_t split = image.reserved_size() != 0 ? static_cast<size_t>(image.reserved_at()) : bytes.size();
    file.Write(bytes.data(), split);
    for (const SectionPiece& piece : section.pieces) {
      if (piece.file.empty()) file.Write(piece.bytes);
      else file.Copy(piece.file, piece.file_size);
    }
    if (image.reserved_size() != 0) file.WriteZeros(image.reserved_size() - section.size);
    file.Write(bytes.data() + split, bytes.size() - split);
    AppendOverlay(file, overlay, resources);
    file.Finish();
  } catch (...) {
    std::filesystem::remove(partial);
    throw;
  }
  // Executable where the stub is (the installed stubs are; a copy may not be).
  std::filesystem::permissions(partial, std::filesystem::status(stub.path).permissions());
  std::filesystem::rename(partial, out);
}

void SignPatcher(const std::filesystem::path& exe, const SigningSetup& sign,
                 const std::string& product) {
  if (const uint64_t size = std::filesystem::file_size(exe); size > kMaxSignedPatcherBytes)
    throw InputError(exe.string() + " has " + std::to_string(size) + " bytes, more than the " +
                     std::to_string(kMaxSignedPatcherBytes) + " a signed patcher may have");
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

}  // namespace vard::mkpatch
