// The build report as one self-contained HTML page: inline CSS, inline SVG charts, the
// preview frames as data URIs and a little plain JavaScript that sorts and filters the
// table of entries. A Content-Security-Policy forbids every load from outside, so the
// page behaves the same on a build server's artefact store as on a studio's desktop.
#include <algorithm>
#include <cstdio>
#include <string>

#include "mkpatch/output/build_report.h"
#include "mkpatch/output/manifest_writer.h"

namespace vard::mkpatch {
namespace {

// Text for the page's contents and attributes: the manifests' escaping, plus the
// apostrophe.
std::string Html(const std::string& text) {
  std::string out;
  for (char c : XmlAttribute(text)) {
    if (c == '\'') {
      out += "&#39;";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Grouped(uint64_t value) {
  std::string digits = std::to_string(value), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string Megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

// Sizes for the charts, in the unit that reads best.
std::string Human(uint64_t bytes) {
  char text[32];
  if (bytes < 1000) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  std::snprintf(text, sizeof text, bytes < 1000000 ? "%.1f kB" : "%.2f MB",
                static_cast<double>(bytes) / (bytes < 1000000 ? 1e3 : 1e6));
  return text;
}

std::string Percent(double fraction) {
  char text[32];
  std::snprintf(text, sizeof text, fraction < 0.1 ? "%.2f%%" : "%.1f%%", fraction * 100);
  return text;
}

std::string Base64(const std::vector<uint8_t>& data) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  for (size_t i = 0; i < data.size(); i += 3) {
    const uint32_t n = (uint32_t{data[i]} << 16) | (i + 1 < data.size() ? uint32_t{data[i + 1]} << 8 : 0) |
                       (i + 2 < data.size() ? data[i + 2] : 0);
    out += kDigits[n >> 18];
    out += kDigits[(n >> 12) & 63];
    out += i + 1 < data.size() ? kDigits[(n >> 6) & 63] : '=';
    out += i + 2 < data.size() ? kDigits[n & 63] : '=';
  }
  return out;
}

// The file as the table shows it: below the installation folder, with forward slashes.
std::string DisplayPath(const ReportEntry& e) {
  std::string path;
  for (char c : e.root) path += c == '\\' ? '/' : c;
  path += e.subpath;
  return path.empty() || path[0] != '/' ? path : path.substr(1);
}

// At most `chars` characters of UTF-8 text, cut on a character boundary.
std::string Shorten(const std::string& text, size_t chars) {
  size_t count = 0, cut = text.size();
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xc0) == 0x80) continue;
    if (count == chars - 1) cut = i;
    ++count;
  }
  return count <= chars ? text : text.substr(0, cut) + "\xe2\x80\xa6";
}

struct Bar {
  std::string label;
  uint64_t bytes;
  std::string note;
};

// A horizontal bar chart, bars scaled to the largest.
std::string BarChart(const std::string& title, const std::vector<Bar>& bars) {
  constexpr int kWidth = 560, kLabel = 190, kBars = 180, kRow = 22;
  uint64_t largest = 1;
  for (const Bar& b : bars) largest = std::max(largest, b.bytes);
  const int height = 26 + kRow * static_cast<int>(bars.size());
  std::string svg = "<figure class=\"chart\"><svg role=\"img\" width=\"" + std::to_string(kWidth) +
                    "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " +
                    std::to_string(kWidth) + " " + std::to_string(height) + "\"><title>" +
                    Html(title) + "</title><text x=\"0\" y=\"14\" class=\"ct\">" + Html(title) + "</text>";
  for (size_t i = 0; i < bars.size(); ++i) {
    const Bar& b = bars[i];
    const int y = 24 + kRow * static_cast<int>(i);
    const int w = static_cast<int>(static_cast<double>(b.bytes) / static_cast<double>(largest) * kBars);
    svg += "<g><title>" + Html(b.label + ": " + Grouped(b.bytes) + " bytes" + b.note) + "</title>";
    svg += "<text x=\"0\" y=\"" + std::to_string(y + 14) + "\">" + Html(Shorten(b.label, 28)) + "</text>";
    svg += "<rect x=\"" + std::to_string(kLabel) + "\" y=\"" + std::to_string(y + 3) + "\" width=\"" +
           std::to_string(std::max(w, b.bytes ? 1 : 0)) + "\" height=\"" + std::to_string(kRow - 6) +
           "\" class=\"bar\"/>";
    svg += "<text x=\"" + std::to_string(kLabel + std::max(w, 0) + 6) + "\" y=\"" + std::to_string(y + 14) +
           "\">" + Html(Human(b.bytes) + b.note) + "</text></g>";
  }
  return svg + "</svg></figure>\n";
}

// Patch size against the limit, as a filled bar.
std::string Gauge(uint64_t size, uint64_t limit) {
  const double fraction = limit ? static_cast<double>(size) / static_cast<double>(limit) : 0;
  const int w = static_cast<int>(std::min(fraction, 1.0) * 556);
  const char* level = fraction > 1 ? "over" : fraction > 0.8 ? "near" : "fine";
  return "<svg role=\"img\" class=\"gauge\" width=\"560\" height=\"26\" viewBox=\"0 0 560 26\"><title>" +
         Percent(fraction) + " of the limit</title><rect x=\"1\" y=\"1\" width=\"558\" height=\"24\" "
         "class=\"frame\"/><rect x=\"2\" y=\"2\" width=\"" + std::to_string(std::max(w, size ? 1 : 0)) +
         "\" height=\"22\" class=\"" + level + "\"/><text x=\"10\" y=\"18\">" +
         Html(Megabytes(size) + " of " + Megabytes(limit) + " (" + Percent(fraction) + ")") + "</text></svg>";
}

std::string Row(const std::string& name, const std::string& value) {
  return "<tr><th>" + Html(name) + "</th><td>" + value + "</td></tr>\n";
}

const char* kStyle = R"(
body{font:14px/1.45 system-ui,sans-serif;margin:0 auto;max-width:1180px;padding:0 20px 40px;color:#1d2230;background:#fafbfc}
h1{font-size:22px;margin:22px 0 4px}h2{font-size:17px;margin:28px 0 8px;border-bottom:1px solid #d5d9e0;padding-bottom:3px}
.status{display:inline-block;padding:2px 10px;border-radius:3px;font-weight:600}
.ok{background:#dff3e4;color:#185c2c}.bad{background:#fbe0e0;color:#8a1616}
table{border-collapse:collapse}table.facts th{text-align:left;font-weight:500;color:#505a6b;padding:2px 18px 2px 0}
.charts{display:flex;flex-wrap:wrap;gap:8px 30px}figure{margin:0}
svg text{font:12px system-ui,sans-serif;fill:#1d2230}svg .ct{font-weight:600}
.bar{fill:#4a78c2}.frame{fill:#fff;stroke:#9aa3b2}.fine{fill:#7cc48e}.near{fill:#f0b64d}.over{fill:#e0605c}
#entries th,#entries td{padding:3px 8px;border-bottom:1px solid #e3e6ea;white-space:nowrap}
#entries thead th{position:sticky;top:0;background:#eef1f5;cursor:pointer;user-select:none;text-align:left}
#entries thead th[aria-sort=ascending]::after{content:" \25b2"}#entries thead th[aria-sort=descending]::after{content:" \25bc"}
#entries td.num,#entries th.num{text-align:right}#entries tr.poor td{background:#fff4e0}
#filter{font:inherit;padding:4px 8px;width:300px;margin:0 10px 8px 0}
.frames{display:flex;flex-wrap:wrap;gap:16px}.frames img{display:block;width:270px;
background:repeating-conic-gradient(#c9ccd2 0 25%,#e9ebee 0 50%) 0 0/16px 16px;border:1px solid #c9ccd2}
.frames figcaption{color:#505a6b;font-size:13px}li{margin:4px 0}code{font-size:13px}
)";

const char* kScript = R"(
(function () {
  var table = document.getElementById('entry-table');
  var body = table.tBodies[0];
  var rows = Array.prototype.slice.call(body.rows);
  var heads = table.tHead.rows[0].cells;
  var filter = document.getElementById('filter');
  var shown = document.getElementById('shown');
  var column = -1, descending = false;
  function key(row, i) {
    var cell = row.cells[i];
    return cell.hasAttribute('data-v') ? Number(cell.getAttribute('data-v')) : cell.textContent.toLowerCase();
  }
  function order(i) {
    var numeric = heads[i].classList.contains('num');
    descending = column === i ? !descending : numeric;
    column = i;
    rows.sort(function (a, b) {
      var x = key(a, i), y = key(b, i);
      var c = x < y ? -1 : x > y ? 1 : 0;
      if (descending) c = -c;
      return c || Number(a.getAttribute('data-i')) - Number(b.getAttribute('data-i'));
    });
    var fragment = document.createDocumentFragment();
    rows.forEach(function (r) { fragment.appendChild(r); });
    body.appendChild(fragment);
    for (var h = 0; h < heads.length; ++h) heads[h].removeAttribute('aria-sort');
    heads[i].setAttribute('aria-sort', descending ? 'descending' : 'ascending');
  }
  function apply() {
    var q = filter.value.trim().toLowerCase(), count = 0;
    rows.forEach(function (r) {
      var match = !q || r.getAttribute('data-name').indexOf(q) >= 0;
      r.hidden = !match;
      if (match) ++count;
    });
    shown.textContent = count + ' of ' + rows.length + ' entries';
  }
  for (var i = 0; i < heads.length; ++i)
    heads[i].addEventListener('click', order.bind(null, i));
  filter.addEventListener('input', apply);
  apply();
})();
)";

std::string Lower(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string EntryRows(const BuildReport& r) {
  std::vector<bool> poor(r.entries.size());
  for (const PoorDiff& p : r.poor) poor[p.entry] = true;
  std::string out;
  for (size_t i = 0; i < r.entries.size(); ++i) {
    const ReportEntry& e = r.entries[i];
    const bool deleted = e.kind == EntryKind::kDeleted;
    const std::string path = DisplayPath(e);
    auto size = [](uint64_t v, bool present) {
      return present ? "<td class=\"num\" data-v=\"" + std::to_string(v) + "\">" + Grouped(v) + "</td>"
                     : std::string("<td class=\"num\" data-v=\"-1\"></td>");
    };
    const bool has_old = e.kind != EntryKind::kAdded;
    const bool has_ratio = !deleted && e.new_size > 0;
    const double ratio = has_ratio ? static_cast<double>(e.payload) / static_cast<double>(e.new_size) : -1;
    char ratio_value[32];
    std::snprintf(ratio_value, sizeof ratio_value, "%.6f", ratio);
    out += "<tr data-i=\"" + std::to_string(i) + "\" data-name=\"" + Html(Lower(path)) + "\"" +
           (poor[i] ? " class=\"poor\"" : "") + "><td>" + Html(path) + "</td><td>" +
           Html(e.section.empty() ? "all" : e.section) + "</td><td>" + KindName(e.kind) + "</td>" +
           size(e.old_size, has_old) + size(e.new_size, !deleted) + size(e.payload, !deleted) +
           "<td class=\"num\" data-v=\"" + ratio_value + "\">" + (has_ratio ? Percent(ratio) : "") +
           "</td><td" + (e.archive.empty() ? "" : " title=\"" + Html(e.archive) + "\"") + ">" +
           FormName(e) + "</td><td>" + CodecName(e) + "</td></tr>\n";
  }
  return out;
}

std::string Glance(const BuildReport& r) {
  const BuildFacts& f = r.facts;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f s", f.seconds);
  std::string check;
  if (!f.checked) {
    check = "not run";
  } else if (f.check_problems.empty()) {
    check = "passed: " + Grouped(f.check_entries) + " entries replayed over every installation language, " +
            Grouped(f.check_decoded) + " payloads decoded; every final tree equals the new tree";
  } else {
    check = "<span class=\"status bad\">failed</span><ul>";
    for (const std::string& p : f.check_problems) check += "<li>" + Html(p) + "</li>";
    check += "</ul>";
  }
  std::string out = "<section id=\"glance\"><h2>At a glance</h2>\n" +
                    (f.limit != 0 ? Gauge(f.embedded, f.limit) : std::string()) +
                    "\n<table class=\"facts\">\n";
  out += Row("Patch data", Grouped(f.embedded) + " bytes (" + Html(Megabytes(f.embedded)) + "): payloads " +
                               Html(Megabytes(r.payload_bytes)) + ", manifests and art " +
                               Html(Megabytes(f.embedded > r.payload_bytes ? f.embedded - r.payload_bytes : 0)));
  out += Row("Limit", f.limit == 0 ? std::string("none set (--max-patch-bytes)")
                                   : Grouped(f.limit) + " bytes (" + Html(Megabytes(f.limit)) + ")");
  out += Row("Files added", Grouped(r.added));
  out += Row("Files updated", Grouped(r.updated_by_diff + r.updated_whole) + " (" + Grouped(r.updated_by_diff) +
                                  " by diff, " + Grouped(r.updated_whole) + " whole)");
  out += Row("Files deleted", Grouped(r.deleted));
  out += Row("Files unchanged", Grouped(r.unchanged));
  if (r.not_encoded)
    out += Row("Not encoded", Grouped(r.not_encoded) +
                                  " added or updated files: the build stopped at the limit before their "
                                  "payloads were made (the largest are made first) and the table leaves them out");
  out += Row("Bytes read", Grouped(f.bytes_in) + " bytes of new files (" + Html(Megabytes(f.bytes_in)) + ")");
  out += Row("Build time", seconds);
  out += Row("Diff format", std::to_string(f.diff_format) +
                                (f.diff_format == 1 ? " (escaped diffs and zlib only)" : " (stream diffs and xz where smaller)"));
  out += Row("Self-check", check);
  if (!f.warnings.empty()) {
    std::string list = "<ul>";
    for (const std::string& w : f.warnings) list += "<li>" + Html(w) + "</li>";
    out += Row("Warnings", list + "</ul>");
  }
  return out + "</table></section>\n";
}

std::string Charts(const BuildReport& r) {
  std::vector<Bar> packs, kinds, largest;
  for (const ByteShare& s : r.by_pack)
    packs.push_back({s.label, s.bytes, " (" + std::to_string(s.files) + (s.files == 1 ? " entry)" : " entries)")});
  for (const ByteShare& s : r.by_kind)
    kinds.push_back({s.label, s.bytes, s.files ? " (" + std::to_string(s.files) + (s.files == 1 ? " file)" : " files)") : ""});
  for (size_t i : r.largest) {
    const ReportEntry& e = r.entries[i];
    largest.push_back({DisplayPath(e), e.payload, ", " + std::string(KindName(e.kind))});
  }
  std::string out = "<section id=\"bytes\"><h2>Where the bytes go</h2><div class=\"charts\">\n";
  out += BarChart("By pack", packs) + BarChart("By kind", kinds);
  if (!largest.empty()) out += BarChart("Largest entries", largest);
  return out + "</div></section>\n";
}

std::string PoorDiffs(const BuildReport& r) {
  std::string out = "<section id=\"poor\"><h2>Poor diffs</h2>\n";
  if (r.poor.empty())
    return out + "<p>None: every update of " + std::to_string(kPoorDiffMinSize / 1024) + " KiB" +
           " or more whose old version is of similar size carries at most a tenth of its new size.</p></section>\n";
  out += "<p>Updates whose payload is above a tenth of the new file although the old file is of "
         "similar size:</p><ul>\n";
  for (const PoorDiff& p : r.poor) {
    const ReportEntry& e = r.entries[p.entry];
    out += "<li><code>" + Html(DisplayPath(e)) + "</code>: " + Html(Human(e.payload)) + " for " +
           Html(Human(e.new_size)) + " (" +
           Percent(static_cast<double>(e.payload) / static_cast<double>(e.new_size)) + "). " +
           Html(p.cause) + "</li>\n";
  }
  return out + "</ul></section>\n";
}

std::string Entries(const BuildReport& r) {
  return "<section id=\"entries\"><h2>Entries</h2>\n"
         "<input id=\"filter\" type=\"search\" placeholder=\"Filter by name\" aria-label=\"Filter by name\">"
         "<span id=\"shown\">" + std::to_string(r.entries.size()) + " entries</span>\n"
         "<table id=\"entry-table\"><thead><tr><th>File</th><th>Section</th><th>Kind</th>"
         "<th class=\"num\">Old size</th><th class=\"num\">New size</th><th class=\"num\">Payload</th>"
         "<th class=\"num\">Ratio</th><th>Form</th><th>Codec</th></tr></thead><tbody>\n" +
         EntryRows(r) + "</tbody></table></section>\n";
}

std::string Frames(const BuildReport& r) {
  const BuildFacts& f = r.facts;
  std::string out = "<section id=\"preview\"><h2>The patcher's windows</h2>\n";
  if (f.frames.empty())
    return out + "<p>No preview: " + Html(f.frames_error.empty() ? "none drawn" : f.frames_error) + "</p></section>\n";
  out += "<div class=\"frames\">";
  for (const ReportFrame& frame : f.frames)
    out += "<figure><img alt=\"" + Html(frame.name) + "\" src=\"data:image/png;base64," + Base64(frame.png) +
           "\"><figcaption>" + Html(frame.caption) + "</figcaption></figure>";
  return out + "</div><p>Texts are not drawn: the patcher renders them with the system's Courier font.</p></section>\n";
}

std::string Version(const BuildReport& r) {
  const VersionInfo& v = r.project.version_info;
  const SigningSetup& sign = r.project.sign;
  std::string signing;
  switch (r.facts.patchers) {
    case PatcherState::kSigned:
      signing = "signed (Authenticode, SHA-256) with " + Html(sign.certificate.filename().string()) + ", " +
                (sign.timestamp_url.empty() ? std::string("no time stamp") : "time stamp from " + Html(sign.timestamp_url));
      break;
    case PatcherState::kUnsigned: signing = "not signed: the project names no certificate"; break;
    case PatcherState::kNotBuilt: signing = "not built (resources only)"; break;
  }
  auto optional = [](const std::string& text) { return text.empty() ? std::string("(none)") : Html(text); };
  std::string out = "<section id=\"version\"><h2>Version information and signing</h2><table class=\"facts\">\n";
  out += Row("Product", optional(v.product)) + Row("Studio", optional(v.studio)) +
         Row("Description", optional(v.description)) + Row("Copyright", optional(v.copyright)) +
         Row("File version", Html(r.project.to)) +
         Row("Comments", Html("Updates " + v.product + " from " + r.project.from + " to " + r.project.to)) +
         Row("Patchers", signing);
  return out + "</table></section>\n";
}

}  // namespace

std::string ReportHtml(const BuildReport& r) {
  const BuildFacts& f = r.facts;
  const std::string title = (r.project.version_info.product.empty() ? std::string("Patch") : r.project.version_info.product) +
                            " " + r.project.from + " \xe2\x86\x92 " + r.project.to;
  std::string status;
  if (!f.failure.empty())
    status = "<p class=\"status bad\" id=\"result\">No patch written: " + Html(f.failure) + "</p>";
  else
    status = "<p class=\"status ok\" id=\"result\">Patch written" +
             std::string(f.checked ? ", self-check passed" : "") + "</p>";
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src data:; "
      "style-src 'unsafe-inline'; script-src 'unsafe-inline'\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>" + Html(title) + ": build report</title>\n<style>" + kStyle + "</style></head>\n<body>\n"
      "<h1>" + Html(title) + "</h1>\n" + status + "\n";
  page += Glance(r) + Charts(r) + PoorDiffs(r) + Entries(r) + Frames(r) + Version(r);
  page += "<script>" + std::string(kScript) + "</script>\n</body></html>\n";
  return page;
}

}  // namespace vard::mkpatch
