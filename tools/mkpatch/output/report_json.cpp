// The build report as JSON for scripts; the fields are described in docs/build-report.md.
#include <cstdio>
#include <string>

#include "mkpatch/output/build_report.h"

namespace vard::mkpatch {
namespace {

// A JSON string: quotes, backslashes and control characters escaped; the rest is UTF-8 as
// the project and the file names are (both are checked to be UTF-8 when read).
std::string Str(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Num(uint64_t value) { return std::to_string(value); }

std::string Real(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", value);
  return text;
}

std::string Strings(const std::vector<std::string>& list) {
  std::string out = "[";
  for (size_t i = 0; i < list.size(); ++i) out += (i ? ", " : "") + Str(list[i]);
  return out + "]";
}

const char* PatcherText(PatcherState state) {
  switch (state) {
    case PatcherState::kSigned: return "signed";
    case PatcherState::kUnsigned: return "unsigned";
    case PatcherState::kNotBuilt: break;
  }
  return "not built";
}

std::string Shares(const std::vector<ByteShare>& shares, const char* key) {
  std::string out = "[";
  for (size_t i = 0; i < shares.size(); ++i)
    out += std::string(i ? ",\n    " : "\n    ") + "{\"" + key + "\": " + Str(shares[i].label) +
           ", \"entries\": " + Num(shares[i].files) + ", \"payload_bytes\": " + Num(shares[i].bytes) + "}";
  return out + "]";
}

}  // namespace

std::string ReportJson(const BuildReport& r) {
  const BuildFacts& f = r.facts;
  const VersionInfo& v = r.project.version_info;
  std::string out = "{\n";
  out += "  \"report_version\": 1,\n";
  out += "  \"result\": " + Str(f.failure.empty() ? "built" : "failed") + ",\n";
  out += "  \"failure\": " + Str(f.failure) + ",\n";
  out += "  \"from\": " + Str(r.project.from) + ",\n  \"to\": " + Str(r.project.to) + ",\n";
  out += "  \"patch_bytes\": " + Num(f.embedded) + ",\n  \"limit_bytes\": " + (f.limit == 0 ? std::string("null") : Num(f.limit)) + ",\n";
  out += "  \"payload_bytes\": " + Num(r.payload_bytes) + ",\n  \"bytes_in\": " + Num(f.bytes_in) + ",\n";
  out += "  \"build_seconds\": " + Real(f.seconds) + ",\n";
  out += "  \"diff_format\": " + std::to_string(f.diff_format) + ",\n";
  out += "  \"files\": {\"added\": " + Num(r.added) + ", \"updated_by_diff\": " + Num(r.updated_by_diff) +
         ", \"updated_whole\": " + Num(r.updated_whole) + ", \"deleted\": " + Num(r.deleted) +
         ", \"unchanged\": " + Num(r.unchanged) + ", \"not_encoded\": " + Num(r.not_encoded) + "},\n";
  out += "  \"self_check\": {\"ran\": " + std::string(f.checked ? "true" : "false") +
         ", \"passed\": " + (f.checked && f.check_problems.empty() ? "true" : "false") +
         ", \"entries\": " + Num(f.check_entries) + ", \"payloads_decoded\": " + Num(f.check_decoded) +
         ", \"problems\": " + Strings(f.check_problems) + "},\n";
  out += "  \"version_info\": {\"studio\": " + Str(v.studio) + ", \"product\": " + Str(v.product) +
         ", \"description\": " + Str(v.description) + ", \"copyright\": " + Str(v.copyright) + "},\n";
  out += "  \"patchers\": " + Str(PatcherText(f.patchers)) + ",\n";
  out += "  \"by_pack\": " + Shares(r.by_pack, "pack") + ",\n";
  out += "  \"by_kind\": " + Shares(r.by_kind, "kind") + ",\n";
  out += "  \"entries\": [";
  for (size_t i = 0; i < r.entries.size(); ++i) {
    const ReportEntry& e = r.entries[i];
    const bool deleted = e.kind == EntryKind::kDeleted;
    out += std::string(i ? ",\n    " : "\n    ") + "{\"section\": " + Str(e.section) +
           ", \"root\": " + Str(e.root) + ", \"subpath\": " + Str(e.subpath) +
           ", \"kind\": " + Str(KindName(e.kind)) + ", \"old_size\": " + Num(e.old_size) +
           ", \"new_size\": " + Num(e.new_size) + ", \"payload_bytes\": " + Num(e.payload) +
           ", \"ratio\": " + (deleted || e.new_size == 0 ? "null" : Real(double(e.payload) / double(e.new_size))) +
           ", \"form\": " + (deleted ? "null" : Str(FormName(e))) +
           ", \"codec\": " + (deleted ? "null" : Str(CodecName(e))) +
           ", \"archive\": " + (e.archive.empty() ? "null" : Str(e.archive)) +
           ", \"resource_id\": " + (deleted ? "null" : std::to_string(e.resource_id)) + "}";
  }
  out += "],\n  \"largest\": [";
  for (size_t i = 0; i < r.largest.size(); ++i) out += (i ? ", " : "") + Num(r.largest[i]);
  out += "],\n  \"poor_diffs\": [";
  for (size_t i = 0; i < r.poor.size(); ++i)
    out += std::string(i ? ",\n    " : "\n    ") + "{\"entry\": " + Num(r.poor[i].entry) +
           ", \"cause\": " + Str(r.poor[i].cause) + "}";
  out += "],\n  \"preview_frames\": [";
  for (size_t i = 0; i < f.frames.size(); ++i)
    out += std::string(i ? ", " : "") + "{\"name\": " + Str(f.frames[i].name) +
           ", \"png_bytes\": " + Num(f.frames[i].png.size()) + "}";
  out += "],\n  \"preview_error\": " + Str(f.frames_error) + ",\n";
  out += "  \"warnings\": " + Strings(f.warnings) + "\n}\n";
  return out;
}

}  // namespace vard::mkpatch
