#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "units/runtime/PollMainLoop.h"
#include "units/runtime/TObject.h"

namespace vantorel {
namespace {

// Counts how many of its kind were deallocated.
class Counted : public TObject {
public:
  explicit Counted(std::atomic<int>* gone) : gone_(gone) {}

protected:
  void Deallocate() override {
    ++*gone_;
    TObject::Deallocate();
  }

private:
  std::atomic<int>* gone_;
};

TEST(TObject, TheLastReferenceDeallocatesExactlyOnce) {
  std::atomic<int> gone{0};
  {
    TRef<Counted> a = MakeRef<Counted>(&gone);
    EXPECT_EQ(a->RetainCount(), 1);
    TRef<Counted> b = a;
    TRef<TObject> base = b;  // a reference as the root class
    EXPECT_EQ(a->RetainCount(), 3);
    TRef<Counted> moved = std::move(b);
    EXPECT_EQ(a->RetainCount(), 3);
    a.reset();
    base.reset();
    EXPECT_EQ(gone, 0);
  }
  EXPECT_EQ(gone, 1);
}

TEST(TObject, ReferencesTakenAndGivenUpOnManyThreads) {
  std::atomic<int> gone{0};
  TRef<Counted> shared = MakeRef<Counted>(&gone);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([copy = shared] {
      for (int i = 0; i < 1000; ++i) TRef<Counted> again = copy;
    });
  shared.reset();
  for (auto& t : threads) t.join();
  EXPECT_EQ(gone, 1);
}

TEST(TObject, AWeakHandleNeverRevivesAnObject) {
  std::atomic<int> gone{0};
  TRef<Counted> strong = MakeRef<Counted>(&gone);
  TWeak<Counted> weak(strong.get());
  EXPECT_EQ(weak.Lock().get(), strong.get());
  strong.reset();
  EXPECT_EQ(gone, 1);
  EXPECT_FALSE(weak.Lock());
}

TEST(TObject, AutoreleaseWaitsForTheEndOfTheMainLoopPass) {
  PollMainLoop loop;
  MainLoop::SetMain(&loop);
  std::atomic<int> gone{0};
  MakeRef<Counted>(&gone).Leak()->Autorelease();
  EXPECT_EQ(gone, 0);  // still usable for the rest of this pass
  loop.RunOnce(0);
  EXPECT_EQ(gone, 1);
  MainLoop::SetMain(nullptr);
}

TEST(TObject, AutoreleasePoolsNestAndDrainInOrder) {
  std::atomic<int> gone{0};
  {
    TAutoreleasePool outer;
    MakeRef<Counted>(&gone).Leak()->Autorelease();
    {
      TAutoreleasePool inner;
      MakeRef<Counted>(&gone).Leak()->Autorelease();
    }
    EXPECT_EQ(gone, 1);
  }
  EXPECT_EQ(gone, 2);
}

TEST(TObject, DestroyingTheLoopGivesUpWhatWasAutoreleased) {
  std::atomic<int> gone{0};
  {
    PollMainLoop loop;
    MainLoop::SetMain(&loop);
    MakeRef<Counted>(&gone).Leak()->Autorelease();
  }
  EXPECT_EQ(gone, 1);
  EXPECT_EQ(MainLoop::Main(), nullptr);
}

}  // namespace
}  // namespace vantorel
