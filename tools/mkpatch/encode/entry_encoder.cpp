#include "mkpatch/encode/entry_encoder.h"

#include <algorithm>
#include <future>

#include "mkpatch/encode/archive/zip_reader.h"
#include "mkpatch/encode/delta/stream_diff_encoder.h"
#include "mkpatch/encode/diff_encoder.h"

namespace vard::mkpatch {
namespace {

// A diff only when its payload is smaller than the whole file's.
EncodedEntry Choose(EncodedEntry diffed, Payload whole) {
  if (diffed.payload.data.size() < whole.data.size()) return diffed;
  EncodedEntry entry;
  entry.payload = std::move(whole);
  return entry;
}

// The smaller of the first and the second form.
EncodedEntry PlainDiffEntry(const std::vector<uint8_t>& old, const std::vector<uint8_t>& content,
                            const EncodeOptions& options, uint64_t limit) {
  EncodedEntry first;
  if (options.diff_format < 2 || content.size() <= kBothFormsLimit) {
    const std::vector<uint8_t> diff = EncodeDiff(old.data(), old.size(), content.data(), content.size());
    first.payload = MakePayload(diff);
    first.diff = true;
    first.diff_form = 1;
    first.diff_size = diff.size();
    if (options.diff_format < 2) return first;
  }
  // The stream diff compresses its own streams: the payload is stored as it is.
  EncodedEntry second;
  second.payload.data = EncodeStreamDiff(old.data(), old.size(), content.data(), content.size(), limit);
  if (second.payload.data.empty()) return first.diff ? first : EncodedEntry{};
  second.diff = true;
  second.diff_form = 2;
  second.diff_size = second.payload.data.size();
  if (first.diff_form == 1 && first.payload.data.size() <= second.payload.data.size()) return first;
  return second;
}

}  // namespace

EncodedEntry EncodeDiffEntry(const std::vector<uint8_t>& old, const std::vector<uint8_t>& content,
                             const EncodeOptions& options, uint64_t limit) {
  std::vector<ZipEntry> entries;
  if (options.diff_format < 3 || !ReadZip(old.data(), old.size(), entries) ||
      !ReadZip(content.data(), content.size(), entries)) {
    return PlainDiffEntry(old, content, options, limit);
  }
  // Both are archives: the archive form is made on a second thread while the plain diff
  // is, which halves the wait on a machine with a core to spare. It carries its own
  // compressed streams, stored as they are, and is kept only when smaller than the plain
  // diff's payload.
  ArchiveReport report;
  std::future<std::vector<uint8_t>> archive_later = std::async(std::launch::async, [&] {
    return EncodeArchiveDiff(old, content, &report, limit);
  });
  EncodedEntry plain = PlainDiffEntry(old, content, options, limit);
  std::vector<uint8_t> archive = archive_later.get();
  if (archive.empty() || (plain.diff && archive.size() >= plain.payload.data.size())) return plain;
  EncodedEntry third;
  third.payload.data = std::move(archive);
  third.diff = true;
  third.diff_form = 3;
  third.diff_size = third.payload.data.size();
  third.archive = report;
  return third;
}

EncodedEntry EncodeEntry(std::vector<uint8_t>* old, const std::vector<uint8_t>& content,
                         bool split, const EncodeOptions& options) {
  // The xz stream of a whole file is costly: it is made only when the zlib stream alone
  // does not already lose to the diff.
  const bool allow_xz = options.diff_format >= 2;
  EncodedEntry entry;
  if (old == nullptr) {
    entry.payload = MakePayload(content, allow_xz);
    return entry;
  }
  // A diff no smaller than the content loses to the whole file, which is never larger.
  auto diff_then_release = [&] {
    EncodedEntry diffed = EncodeDiffEntry(*old, content, options, content.size());
    std::vector<uint8_t>().swap(*old);
    if (!diffed.diff || diffed.payload.data.size() >= content.size()) diffed = {};
    return diffed;
  };
  if (!split) {
    EncodedEntry diffed = diff_then_release();
    if (!diffed.diff) return EncodeEntry(nullptr, content, false, options);
    Payload whole = MakePayload(content);
    if (allow_xz && diffed.payload.data.size() >= whole.data.size()) whole = MakePayload(content, true);
    return Choose(std::move(diffed), std::move(whole));
  }
  // A large file: the whole content is compressed on a second thread while the diff is
  // encoded, into a buffer of an eighth of its size. A diff of an edited file is nearly
  // always smaller than that; only when it is not is the whole stream made in full.
  // Content that looks incompressible is not tried at all: it would fill the buffer and
  // fail after the slowest pass over the whole file.
  const size_t limit = content.size() / 8;
  const bool incompressible = LooksIncompressible(content.data(), content.size());
  std::future<std::vector<uint8_t>> whole_later = std::async(std::launch::async, [&content, limit, incompressible] {
    return incompressible ? std::vector<uint8_t>() : CompressZlibWithin(content.data(), content.size(), limit);
  });
  EncodedEntry diffed = diff_then_release();
  std::vector<uint8_t> within = whole_later.get();
  if (!diffed.diff) return EncodeEntry(nullptr, content, false, options);
  Payload whole;
  if (!within.empty() && within.size() < content.size()) {
    whole.data = std::move(within);  // MakePayload's compressed form, byte for byte
    whole.comp = true;
    whole.codec = 1;
    if (allow_xz && diffed.payload.data.size() >= whole.data.size()) whole = MakePayload(content, true);
  } else if (diffed.payload.data.size() <= limit && content.size() > limit) {
    // Both forms of the whole file exceed the limit, so the diff is smaller.
    return diffed;
  } else {
    whole = MakePayload(content, allow_xz);
  }
  return Choose(std::move(diffed), std::move(whole));
}

}  // namespace vard::mkpatch
