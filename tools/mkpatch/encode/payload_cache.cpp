#include "mkpatch/encode/payload_cache.h"

// The digest functions rather than EVP: linked statically, EVP would bring most of
// libcrypto (providers, configuration) into mkpatch for one hash.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "mkpatch/common/file_io.h"

namespace vard::mkpatch {
namespace fs = std::filesystem;
namespace {

std::string Hex(const unsigned char* digest, unsigned length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < length; ++i) {
    out += kDigits[digest[i] >> 4];
    out += kDigits[digest[i] & 15];
  }
  return out;
}

// Written aside and renamed, so that a build stopped half way leaves no torn entry. Two
// entries with the same content may be stored at once by two threads: each writes its own
// temporary file, and the second rename replaces the first with the same bytes.
void WriteAtomically(const fs::path& path, const uint8_t* data, size_t size) {
  static std::atomic<unsigned> counter{0};
  fs::path temp = path;
  temp += ".tmp" + std::to_string(counter++);
  WriteWholeFile(temp, data, size);
  fs::rename(temp, path);
}

}  // namespace

std::string Sha256Hex(const uint8_t* data, size_t size) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256_CTX context;
  if (!SHA256_Init(&context) || !SHA256_Update(&context, data, size) || !SHA256_Final(digest, &context))
    throw std::runtime_error("SHA-256 failed");
  return Hex(digest, SHA256_DIGEST_LENGTH);
}

PayloadCache::PayloadCache(fs::path folder) : folder_(std::move(folder)) {
  if (folder_.empty()) return;
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) {
    folder_.clear();
    return;
  }
  try {
    const Bytes tool = ReadWholeFile(self);
    tool_ = Sha256Hex(tool.data(), tool.size());
    fs::create_directories(folder_);
  } catch (const std::exception&) {
    folder_.clear();
  }
}

std::string PayloadCache::Key(const std::vector<uint8_t>* old, const std::vector<uint8_t>& content,
                              int diff_format) const {
  std::string text = tool_ + (old ? " updated " + Sha256Hex(old->data(), old->size()) : " added") + " " +
                     Sha256Hex(content.data(), content.size()) + " format " + std::to_string(diff_format);
  return Sha256Hex(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::optional<EncodedEntry> PayloadCache::Find(const std::string& key) {
  if (!enabled()) return std::nullopt;
  std::ifstream meta(folder_ / (key + ".meta"));
  int comp = 0, diff = 0;
  uint64_t diff_size = 0, payload_size = 0;
  if (!(meta >> comp >> diff >> diff_size >> payload_size)) return std::nullopt;
  EncodedEntry entry;
  try {
    entry.payload.data = ReadWholeFile(folder_ / (key + ".bin"));
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (entry.payload.data.size() != payload_size || entry.payload.data.empty()) return std::nullopt;
  // The codec (0 stored, 1 zlib, 2 xz) and the diff form (0 whole, 1, 2).
  entry.payload.comp = comp != 0;
  entry.payload.codec = comp;
  entry.diff = diff != 0;
  entry.diff_form = diff;
  entry.diff_size = diff_size;
  MarkUsed(key);
  ++reused_;
  return entry;
}

void PayloadCache::Store(const std::string& key, const EncodedEntry& entry) {
  if (!enabled()) return;
  WriteAtomically(folder_ / (key + ".bin"), entry.payload.data.data(), entry.payload.data.size());
  std::ostringstream meta;
  meta << (entry.payload.comp ? entry.payload.codec : 0) << " " << (entry.diff ? entry.diff_form : 0)
       << " " << entry.diff_size << " "
       << entry.payload.data.size() << "\n";
  const std::string text = meta.str();
  WriteAtomically(folder_ / (key + ".meta"), reinterpret_cast<const uint8_t*>(text.data()), text.size());
  MarkUsed(key);
}

void PayloadCache::MarkUsed(const std::string& key) {
  const std::lock_guard<std::mutex> lock(mutex_);
  used_.insert(key);
}

void PayloadCache::Prune() {
  if (!enabled()) return;
  std::vector<fs::path> stale;
  for (const auto& entry : fs::directory_iterator(folder_))
    if (!used_.count(entry.path().stem().string())) stale.push_back(entry.path());
  for (const fs::path& path : stale) fs::remove(path);
}

void PayloadCache::Clear() {
  if (enabled()) fs::remove_all(folder_);
}

}  // namespace vard::mkpatch
