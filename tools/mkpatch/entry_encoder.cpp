#include "mkpatch/entry_encoder.h"

#include <future>

#include "mkpatch/diff_encoder.h"

namespace vard::mkpatch {
namespace {

// A diff only when its payload is smaller than the whole file's.
EncodedEntry Choose(Payload diffed, uint64_t diff_size, Payload whole) {
  EncodedEntry entry;
  if (diffed.data.size() < whole.data.size()) {
    entry.payload = std::move(diffed);
    entry.diff = true;
    entry.diff_size = diff_size;
  } else {
    entry.payload = std::move(whole);
  }
  return entry;
}

}  // namespace

EncodedEntry EncodeEntry(const std::vector<uint8_t>* old, const std::vector<uint8_t>& content,
                         bool split) {
  EncodedEntry entry;
  if (old == nullptr) {
    entry.payload = MakePayload(content);
    return entry;
  }
  if (!split) {
    Payload whole = MakePayload(content);
    const std::vector<uint8_t> diff = EncodeDiff(old->data(), old->size(), content.data(), content.size());
    return Choose(MakePayload(diff), diff.size(), std::move(whole));
  }
  // A large file: the whole content is compressed on a second thread while the diff is
  // encoded, into a buffer of an eighth of its size. A diff of an edited file is nearly
  // always smaller than that; only when it is not is the whole stream made in full.
  const size_t limit = content.size() / 8;
  std::future<std::vector<uint8_t>> whole_later = std::async(std::launch::async, [&content, limit] {
    return CompressZlibWithin(content.data(), content.size(), limit);
  });
  const std::vector<uint8_t> diff = EncodeDiff(old->data(), old->size(), content.data(), content.size());
  Payload diffed = MakePayload(diff);
  std::vector<uint8_t> within = whole_later.get();
  Payload whole;
  if (!within.empty() && within.size() < content.size()) {
    whole.data = std::move(within);  // MakePayload's compressed form, byte for byte
    whole.comp = true;
  } else if (diffed.data.size() <= limit && content.size() > limit) {
    // Both forms of the whole file exceed the limit, so the diff is smaller.
    entry.payload = std::move(diffed);
    entry.diff = true;
    entry.diff_size = diff.size();
    return entry;
  } else {
    whole = MakePayload(content);
  }
  return Choose(std::move(diffed), diff.size(), std::move(whole));
}

}  // namespace vard::mkpatch
