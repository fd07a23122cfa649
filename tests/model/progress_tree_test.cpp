#include "model/progress_tree.h"

#include <gtest/gtest.h>

#include <chrono>

#include "model/ui_state.h"

namespace vard {
namespace {

// Each test starts with a clean UI state and no progress root, and leaves none behind.
class ProgressTree : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDetailText(L"");
    SetItemProgress(0.0f);
    SetTotalProgress(0.0f);
    UiSnapshot drained;
    TakeSnapshotIfDirty(drained);
    ProgressRoot() = nullptr;
  }
  void TearDown() override {
    ProgressRoot() = nullptr;
    UiSnapshot drained;
    TakeSnapshotIfDirty(drained);
  }

  // What the last reports pushed; fails when nothing was pushed.
  UiSnapshot Shown() {
    UiSnapshot snapshot;
    EXPECT_TRUE(TakeSnapshotIfDirty(snapshot));
    return snapshot;
  }
  bool AnythingPushed() {
    UiSnapshot snapshot;
    return TakeSnapshotIfDirty(snapshot);
  }
};

TEST_F(ProgressTree, ConstructorsAppendInCreationOrder) {
  ProgressNode root(0, nullptr);
  ProgressNode entry(&root, L"bin\\game.exe");
  ProgressNode first(7, &entry);
  ProgressNode second(9, &entry);
  EXPECT_EQ(root.parent, nullptr);
  EXPECT_TRUE(root.label.empty());
  ASSERT_EQ(root.children.size(), 1u);
  EXPECT_EQ(root.children[0], &entry);
  EXPECT_EQ(entry.parent, &root);
  EXPECT_EQ(entry.weight, 0u);
  EXPECT_EQ(entry.children, (std::vector<ProgressNode*>{&first, &second}));
  EXPECT_EQ(second.weight, 9u);
  EXPECT_EQ(second.done, 0u);
  EXPECT_TRUE(second.label.empty());
}

TEST_F(ProgressTree, ItemBarFollowsTheLabelledEntryAndTotalBarTheRoot) {
  ProgressNode root(0, nullptr);
  ProgressRoot() = &root;
  ProgressNode entry(&root, L"bin\\game.exe");
  ProgressNode a(100, &entry);
  ProgressNode b(300, &entry);
  b.done = 150;
  ReportProgress(b);
  UiSnapshot shown = Shown();
  EXPECT_EQ(shown.detail, L"bin\\game.exe");
  EXPECT_FLOAT_EQ(shown.item_progress, 0.375f);
  EXPECT_FLOAT_EQ(shown.total_progress, 0.375f);

  MarkComplete(entry);
  EXPECT_EQ(a.done, 100u);
  EXPECT_EQ(b.done, 300u);
  ReportProgress(entry);
  shown = Shown();
  EXPECT_FLOAT_EQ(shown.item_progress, 1.0f);
  EXPECT_FLOAT_EQ(shown.total_progress, 1.0f);
}

TEST_F(ProgressTree, SecondEntryShowsItsOwnLabelAndHalfTheTotal) {
  ProgressNode root(0, nullptr);
  ProgressRoot() = &root;
  ProgressNode first(&root, L"first.bin");
  ProgressNode first_work(400, &first);
  ProgressNode second(&root, L"second.bin");
  ProgressNode second_work(100, &second);
  ProgressNode second_more(300, &second);
  MarkComplete(first);
  ReportProgress(second_more);
  const UiSnapshot shown = Shown();
  EXPECT_EQ(shown.detail, L"second.bin");
  EXPECT_FLOAT_EQ(shown.item_progress, 0.0f);
  EXPECT_FLOAT_EQ(shown.total_progress, 0.5f);
}

TEST_F(ProgressTree, NodesWithoutLabelledAncestorReportNothing) {
  ProgressNode root(0, nullptr);
  ProgressRoot() = &root;
  ProgressNode orphan_work(10, &root);
  orphan_work.done = 5;
  ReportProgress(root);
  EXPECT_FALSE(AnythingPushed());
  ReportProgress(orphan_work);
  EXPECT_FALSE(AnythingPushed());
}

TEST_F(ProgressTree, WithoutARootTheTotalBarStaysAsItWas) {
  SetTotalProgress(0.25f);
  ProgressNode entry(nullptr, L"alone.txt");
  ProgressNode work(10, &entry);
  AdvanceProgress(work, 5);
  const UiSnapshot shown = Shown();
  EXPECT_EQ(shown.detail, L"alone.txt");
  EXPECT_FLOAT_EQ(shown.item_progress, 0.5f);
  EXPECT_FLOAT_EQ(shown.total_progress, 0.25f);
}

TEST_F(ProgressTree, FractionEdges) {
  ProgressNode entry(nullptr, L"x");
  EXPECT_EQ(Fraction(entry), 0.0f);
  ProgressNode zero(0, &entry);
  MarkComplete(entry);
  EXPECT_EQ(Fraction(entry), 0.0f);  // all weights 0: still 0 after completion

  ProgressNode work(10, &entry);
  work.done = 25;  // a caller that overshoots shows as complete
  EXPECT_EQ(Fraction(entry), 1.0f);
  EXPECT_EQ(Fraction(work), 1.0f);
}

TEST_F(ProgressTree, AdvanceCapsAtTheWeightAndMarkCompleteReachesEveryLevel) {
  ProgressNode root(0, nullptr);
  ProgressNode entry(&root, L"e");
  ProgressNode work(10, &entry);
  ProgressNode deeper(20, &work);
  AdvanceProgress(work, 1000);
  EXPECT_EQ(work.done, 10u);
  EXPECT_FLOAT_EQ(Fraction(entry), 10.0f / 30.0f);
  MarkComplete(root);
  EXPECT_EQ(deeper.done, 20u);
  EXPECT_EQ(Fraction(root), 1.0f);
}

TEST_F(ProgressTree, WeightsAbove4GiBKeepTheirHighPart) {
  constexpr std::uint64_t k4GiB = 1ull << 32;
  ProgressNode root(0, nullptr);
  ProgressRoot() = &root;
  ProgressNode entry(&root, L"huge.bin");
  ProgressNode a(k4GiB, &entry);
  ProgressNode b(2 * k4GiB, &entry);
  // Truncated to 32 bits these sums would be 0 (fraction 0) or tiny.
  a.done = k4GiB;
  ReportProgress(a);
  const UiSnapshot shown = Shown();
  EXPECT_FLOAT_EQ(shown.item_progress, 1.0f / 3.0f);
  EXPECT_FLOAT_EQ(shown.total_progress, 1.0f / 3.0f);
  // One byte short of completion on an odd total above 2^53 still reads below 1 before
  // rounding to float; the float then rounds it to 1, never above.
  ProgressNode big((1ull << 60) + 1, &entry);
  MarkComplete(entry);
  big.done -= 1;
  EXPECT_LE(Fraction(entry), 1.0f);
  EXPECT_GT(Fraction(entry), 0.99f);
}

TEST_F(ProgressTree, EveryReportYieldsForAtLeastOneMillisecond) {
  ProgressNode entry(nullptr, L"e");
  ProgressNode work(10, &entry);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i) ReportProgress(work);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

}  // namespace
}  // namespace vard
