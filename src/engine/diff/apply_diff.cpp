#include "engine/diff/apply_diff.h"

#include "engine/diff/archive_diff.h"
#include "engine/diff/buffered_writer.h"
#include "engine/diff/decode_diff.h"
#include "engine/diff/paged_reader.h"
#include "engine/diff/stream_diff.h"
#include "os/files.h"

namespace vard {

bool ApplyDiff(const std::wstring& new_path, const std::wstring& old_path,
               const std::wstring& diff_path, ProgressNode* node, std::uint32_t* crc, int form,
               std::uint64_t new_size) {
  try {
    if (!RemoveFile(new_path)) return false;
    PagedReader old_reader;
    if (!old_reader.Open(old_path)) return false;
    BufferedWriter writer;
    if (!writer.Open(new_path, node)) return false;
    writer.set_limit(new_size);
    PagedReader diff_reader;
    if (!diff_reader.Open(diff_path)) return false;
    bool ok = false;
    try {
      if (form == 3) {
        // The archive decoder opens one reader per stream and two of the old file.
        const diff::OpenReader open_old = [&old_path]() -> std::unique_ptr<diff::DiffReader> {
          auto reader = std::make_unique<PagedReader>();
          if (!reader->Open(old_path)) return nullptr;
          return reader;
        };
        const diff::OpenReader open_diff = [&diff_path]() -> std::unique_ptr<diff::DiffReader> {
          auto reader = std::make_unique<PagedReader>();
          if (!reader->Open(diff_path)) return nullptr;
          return reader;
        };
        ok = diff::DecodeArchiveDiff(writer, open_old, open_diff, new_size);
      } else if (form == 2) {
        // One reader per stream, so that each keeps its own page.
        PagedReader differences, extra;
        ok = differences.Open(diff_path) && extra.Open(diff_path) &&
             diff::DecodeStreamDiff(writer, old_reader, diff_reader, differences, extra,
                                    new_size);
      } else {
        ok = diff::DecodeDiff(writer, old_reader, diff_reader);
      }
    } catch (...) {
      ok = false;
    }
    // What was decoded before a failure still goes to the file; it is the caller's to
    // delete.
    const bool flushed = writer.Close();
    if (crc != nullptr) *crc = writer.crc();
    return ok && flushed;
  } catch (...) {
    return false;
  }
}

}  // namespace vard
