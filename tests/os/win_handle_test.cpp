// The handle owner closes each handle exactly once, whatever moves happen to it.
#include "os/win_handle.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace vard {
namespace {

std::vector<int> closed;

struct CountingTraits {
  using Native = int;
  static Native Invalid() noexcept { return -1; }
  static void Close(Native h) noexcept { closed.push_back(h); }
};
using Counted = UniqueHandle<CountingTraits>;

TEST(UniqueHandle, ClosesOnceOnEveryPath) {
  closed.clear();
  { Counted a(1); }
  EXPECT_EQ(closed, (std::vector<int>{1}));

  closed.clear();
  {
    Counted a(2);
    Counted b(std::move(a));  // the new owner closes; the moved-from one does not
    EXPECT_FALSE(a);
    EXPECT_EQ(b.get(), 2);
  }
  EXPECT_EQ(closed, (std::vector<int>{2}));

  closed.clear();
  {
    Counted a(3);
    Counted b(4);
    b = std::move(a);  // the handle b held is closed at once, not leaked
    EXPECT_EQ(closed, (std::vector<int>{4}));
    Counted& self = b;
    b = std::move(self);  // self-assignment keeps the handle open
    EXPECT_EQ(closed, (std::vector<int>{4}));
  }
  EXPECT_EQ(closed, (std::vector<int>{4, 3}));

  closed.clear();
  {
    Counted a(5);
    EXPECT_EQ(a.release(), 5);  // released handles are the caller's to close
    Counted b(6);
    b.reset(7);
    Counted invalid;
  }
  EXPECT_EQ(closed, (std::vector<int>{6, 7}));
}

}  // namespace
}  // namespace vard
