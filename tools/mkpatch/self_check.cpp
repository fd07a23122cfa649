#include "mkpatch/self_check.h"

#include <cstring>

#include "engine/diff/decode_diff.h"
#include "engine/inflate_loop.h"
#include "mkpatch/file_io.h"
#include "mkpatch/resource_folder.h"

namespace vard::mkpatch {
namespace {

class VectorSource final : public InflateSource {
 public:
  explicit VectorSource(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  int64_t Read(unsigned char* buffer, size_t capacity) override {
    const size_t n = std::min(capacity, bytes_.size() - offset_);
    if (n > 0) std::memcpy(buffer, bytes_.data() + offset_, n);
    offset_ += n;
    return static_cast<int64_t>(n);
  }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t offset_ = 0;
};

class VectorSink final : public InflateSink {
 public:
  explicit VectorSink(std::vector<uint8_t>& out) : out_(out) {}
  bool Write(const unsigned char* data, size_t count) override {
    out_.insert(out_.end(), data, data + count);
    return true;
  }

 private:
  std::vector<uint8_t>& out_;
};

std::string CheckFile(const PlannedFile& file, const std::filesystem::path& resources,
                      bool updated) {
  const Bytes payload = ReadWholeFile(PayloadPath(resources, file.id));
  if (payload.size() != file.comp_size) return "payload size differs from its manifest";
  Bytes content;
  if (!file.comp) content = payload;
  else if (!InflateWithProductCode(payload, content)) return "payload does not inflate";
  Bytes rebuilt;
  if (updated && file.diff) {
    if (content.size() != file.diff_size) return "inflated diff size differs from diff_size";
    if (!ApplyWithProductCode(ReadWholeFile(file.old_file), content, rebuilt))
      return "diff does not decode against the old file";
  } else {
    rebuilt = std::move(content);
  }
  if (rebuilt.size() != file.size)
    return "rebuilt file has " + std::to_string(rebuilt.size()) + " bytes, expected " +
           std::to_string(file.size);
  const std::string crc = CrcText(rebuilt);
  if (crc != file.crc) return "rebuilt file has checksum " + crc + ", expected " + file.crc;
  if (ReadWholeFile(file.new_file) != rebuilt) return "rebuilt file differs from the new file";
  return {};
}

}  // namespace

bool InflateWithProductCode(const std::vector<uint8_t>& stream, std::vector<uint8_t>& out) {
  out.clear();
  VectorSource source(stream);
  VectorSink sink(out);
  return InflateStream(source, sink, nullptr);
}

bool ApplyWithProductCode(const std::vector<uint8_t>& old, const std::vector<uint8_t>& diff,
                          std::vector<uint8_t>& out) {
  diff::MemoryDiffReader old_reader(old.data(), old.size());
  diff::MemoryDiffReader diff_reader(diff.data(), diff.size());
  diff::VectorDiffWriter writer;
  const bool ok = diff::DecodeDiff(writer, old_reader, diff_reader) && writer.Flush();
  out = writer.bytes();
  return ok;
}

std::vector<std::string> SelfCheck(const PatchPlan& plan, const std::filesystem::path& resources,
                                   const std::function<void(const std::string&)>& progress) {
  std::vector<std::string> problems;
  for (const PlannedSection& section : plan.sections)
    for (const PlannedPack& pack : section.packs)
      for (int kind = 0; kind < 2; ++kind)
        for (const PlannedFile& file : kind == 0 ? pack.added : pack.updated) {
          std::string problem;
          try {
            problem = CheckFile(file, resources, kind == 1);
          } catch (const std::exception& e) {
            problem = e.what();
          }
          if (!problem.empty()) problems.push_back(file.new_file.string() + ": " + problem);
          if (progress) progress(file.subpath);
        }
  return problems;
}

}  // namespace vard::mkpatch
