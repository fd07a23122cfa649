// The build report's judgements on a hand-made plan: which updates count as poor diffs and
// why, how the bytes are grouped, and that names and project texts cannot break out of the
// page or the JSON. The page itself is exercised in a browser by report_browser_test.py.
#include <gtest/gtest.h>

#include <random>

#include "mkpatch/output/build_report.h"

namespace vard::mkpatch {
namespace {

PlannedFile Update(const std::string& subpath, uint64_t old_size, uint64_t size, uint64_t payload,
                   bool diff) {
  PlannedFile f;
  f.subpath = subpath;
  f.size_org = old_size;
  f.size = size;
  f.comp_size = payload;
  f.diff = diff;
  f.diff_form = 2;
  f.comp = !diff;
  f.id = 6000;
  f.crc = "0badc0de";  // the payload was made
  return f;
}

TEST(BuildReport, PoorDiffsAreLargePayloadsOfSimilarFiles) {
  PatchPlan plan;
  plan.sections.resize(2);
  plan.sections[0].packs.resize(2);  // a pack that deletes first, then one with the same root
  plan.sections[0].packs[0].deleted.resize(1);
  PlannedPack& base = plan.sections[0].packs[1];
  base.unchanged = 3;
  base.updated = {Update("/poor.pak", 900'000, 1'000'000, 300'000, true),
                  Update("/good.exe", 1'000'000, 1'000'000, 50'000, true),
                  Update("/grown.dat", 200'000, 1'000'000, 900'000, true),    // old far smaller
                  Update("/small.cfg", 1'000, 1'000, 900, true),              // too small to judge
                  Update("/whole.bin", 1'000'000, 1'000'000, 990'000, false)};  // no diff helped
  PlannedFile added;
  added.subpath = "/new.dat";
  added.size = 5'000;
  added.comp_size = 2'000'000;
  added.crc = "0badc0de";
  base.added.push_back(added);
  PlannedFile stopped = added;  // a stopped build never made this one's payload
  stopped.crc.clear();
  base.added.push_back(stopped);
  plan.sections[1].name = "french";
  plan.sections[1].packs.resize(1);
  plan.sections[1].packs[0].root = "local\\french";
  plan.sections[1].packs[0].added.push_back(added);

  BuildFacts facts;
  facts.embedded = 6'300'000;
  const BuildReport r = MakeBuildReport(plan, facts);

  std::vector<std::string> poor;
  for (const PoorDiff& p : r.poor) poor.push_back(r.entries[p.entry].subpath);
  EXPECT_EQ(poor, (std::vector<std::string>{"/poor.pak", "/whole.bin"}));
  EXPECT_EQ(r.poor[1].cause.rfind("No diff came out smaller", 0), 0u) << r.poor[1].cause;

  EXPECT_EQ(r.entries.size(), 8u);
  EXPECT_EQ(r.added, 2u);
  EXPECT_EQ(r.updated_by_diff, 4u);
  EXPECT_EQ(r.updated_whole, 1u);
  EXPECT_EQ(r.deleted, 1u);
  EXPECT_EQ(r.unchanged, 3u);
  EXPECT_EQ(r.not_encoded, 1u);
  EXPECT_EQ(r.payload_bytes, 6'240'900u);
  // The pack that deletes first shares its root's bar.
  ASSERT_EQ(r.by_pack.size(), 2u);
  EXPECT_EQ(r.by_pack[0].files, 7u);
  EXPECT_EQ(r.by_pack[1].bytes, 2'000'000u);
  EXPECT_EQ(r.by_kind.back().bytes, 59'100u);  // manifests and art: what is not payload
  ASSERT_GE(r.largest.size(), 3u);
  EXPECT_EQ(r.entries[r.largest[0]].subpath, "/new.dat");
  EXPECT_EQ(r.entries[r.largest[1]].subpath, "/new.dat");  // the french one, after the base one
  EXPECT_EQ(r.entries[r.largest[1]].root, "local\\french");
  EXPECT_EQ(r.entries[r.largest[2]].subpath, "/whole.bin");
}

TEST(BuildReport, CauseTellsContainersRandomBytesAndRealChanges) {
  std::vector<uint8_t> zip = {'P', 'K', 3, 4, 20, 0};
  EXPECT_NE(PoorDiffCause(zip, false).find("zip archive"), std::string::npos);
  std::vector<uint8_t> zlib = {0x78, 0xda, 1, 2};
  EXPECT_NE(PoorDiffCause(zlib, false).find("zlib stream"), std::string::npos);

  std::mt19937 rng(7);
  std::vector<uint8_t> random(1 << 16);
  for (auto& b : random) b = static_cast<uint8_t>(rng());
  random[0] = 0;  // no signature
  EXPECT_NE(PoorDiffCause(random, false).find("compressed or encrypted"), std::string::npos);

  const std::string text = "difficulty=2\nvolume=80\nlanguage_pack=1\nfov=075\n";
  std::vector<uint8_t> plain;
  for (int i = 0; i < 1000; ++i) plain.insert(plain.end(), text.begin(), text.end());
  EXPECT_NE(PoorDiffCause(plain, false).find("really changed"), std::string::npos);
}

TEST(BuildReport, TextsCannotBreakOutOfThePageOrTheJson) {
  PatchPlan plan;
  plan.project.from = "1.00";
  plan.project.to = "1.01";
  plan.project.version_info.product = "Q&A </title><script>alert(1)</script> \"x\"\x01";
  plan.sections.resize(1);
  plan.sections[0].packs.resize(1);
  PlannedFile added;
  added.subpath = "/it's & more.txt";
  added.size = 1;
  added.comp_size = 1;
  added.crc = "00000000";
  plan.sections[0].packs[0].added.push_back(added);
  const BuildReport r = MakeBuildReport(plan, {});

  const std::string html = ReportHtml(r);
  EXPECT_EQ(html.find("<script>alert"), std::string::npos);
  EXPECT_EQ(html.find("</title><script"), std::string::npos);
  EXPECT_NE(html.find("it&#39;s &amp; more.txt"), std::string::npos);
  size_t scripts = 0;
  for (size_t at = html.find("<script"); at != std::string::npos; at = html.find("<script", at + 1)) ++scripts;
  EXPECT_EQ(scripts, 1u);

  const std::string json = ReportJson(r);
  EXPECT_NE(json.find(R"("product": "Q&A </title><script>alert(1)</script> \"x\"\u0001")"), std::string::npos)
      << json;
  EXPECT_NE(json.find(R"("subpath": "/it's & more.txt")"), std::string::npos);
}

}  // namespace
}  // namespace vard::mkpatch
