#include "model/ui_state.h"

#include <gtest/gtest.h>

namespace vard {
namespace {

// The state is process-wide: each test starts by draining what earlier tests left dirty.
void Drain() {
  UiSnapshot ignored;
  TakeSnapshotIfDirty(ignored);
}

TEST(UiState, ProgressValuesAreClampedToTheUnitRange) {
  Drain();
  SetTotalProgress(1.7f);
  SetItemProgress(-0.2f);
  UiSnapshot snapshot;
  ASSERT_TRUE(TakeSnapshotIfDirty(snapshot));
  EXPECT_EQ(snapshot.total_progress, 1.0f);
  EXPECT_EQ(snapshot.item_progress, 0.0f);
  SetItemProgress(0.25f);
  ASSERT_TRUE(TakeSnapshotIfDirty(snapshot));
  EXPECT_EQ(snapshot.item_progress, 0.25f);
  EXPECT_EQ(snapshot.total_progress, 1.0f);  // untouched members keep their values
}

TEST(UiState, ChangesBetweenTwoFramesCoalesceIntoOneSnapshotOfTheLastValues) {
  Drain();
  UiSnapshot snapshot;
  EXPECT_FALSE(TakeSnapshotIfDirty(snapshot));
  SetStatusText(L"first");
  SetStatusText(L"second");
  SetDetailText(L"file.dat");
  ASSERT_TRUE(TakeSnapshotIfDirty(snapshot));
  EXPECT_EQ(snapshot.status, L"second");
  EXPECT_EQ(snapshot.detail, L"file.dat");
  // Nothing changed since: no second frame, and the copy is left alone.
  snapshot.status = L"kept";
  EXPECT_FALSE(TakeSnapshotIfDirty(snapshot));
  EXPECT_EQ(snapshot.status, L"kept");
}

TEST(UiState, ValuesSetBeforeAnyWindowAreInTheFirstSnapshot) {
  Drain();
  SetTitleText(L"PATCH V1.00 - V1.01");
  UiSnapshot first;
  ASSERT_TRUE(TakeSnapshotIfDirty(first));
  EXPECT_EQ(first.title, L"PATCH V1.00 - V1.01");
}

}  // namespace
}  // namespace vard
