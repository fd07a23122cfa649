#include "mkpatch/entry_encoder.h"

#include <future>

#include "mkpatch/diff_encoder.h"

namespace vard::mkpatch {

EncodedEntry EncodeEntry(const std::vector<uint8_t>* old, const std::vector<uint8_t>& content,
                         bool split) {
  EncodedEntry entry;
  if (old == nullptr) {
    entry.payload = MakePayload(content);
    return entry;
  }
  std::future<Payload> whole_later;
  Payload whole;
  if (split)
    whole_later = std::async(std::launch::async, [&content] { return MakePayload(content); });
  else
    whole = MakePayload(content);
  const std::vector<uint8_t> diff = EncodeDiff(old->data(), old->size(), content.data(), content.size());
  Payload diffed = MakePayload(diff);
  if (whole_later.valid()) whole = whole_later.get();
  if (diffed.data.size() < whole.data.size()) {
    entry.payload = std::move(diffed);
    entry.diff = true;
    entry.diff_size = diff.size();
  } else {
    entry.payload = std::move(whole);
  }
  return entry;
}

}  // namespace vard::mkpatch
