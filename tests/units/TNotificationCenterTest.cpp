#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/CaptureDiagnostics.h"
#include "units/runtime/TNotificationCenter.h"
#include "units/runtime/TNumber.h"

namespace vantorel {
namespace {

using test::CaptureDiagnostics;

class Listener : public TObject {
public:
  std::vector<std::string> heard;
  std::vector<std::thread::id> threads;
  std::vector<PlistValue::Dictionary> infos;
  std::vector<TObject*> objects;
  void Hear(TNotification* n) {
    heard.push_back(n->Name());
    threads.push_back(std::this_thread::get_id());
    infos.push_back(n->UserInfo());
    objects.push_back(n->Object());
  }
};

class NotificationTest : public ::testing::Test {
protected:
  TRef<TNotificationCenter> center = MakeRef<TNotificationCenter>();
  TRef<Listener> listener = MakeRef<Listener>();
};

TEST_F(NotificationTest, DeliveryIsSynchronousInOrderAndByName) {
  center->ObserveNotification(listener.get(), "Changed", &Listener::Hear);
  center->PostNotification("Changed");
  EXPECT_EQ(listener->heard.size(), 1u);  // before the post returned
  center->PostNotification("Other");
  center->PostNotification("Changed");
  EXPECT_EQ(listener->heard, (std::vector<std::string>{"Changed", "Changed"}));
}

TEST_F(NotificationTest, HandlersRunOnThePostingThread) {
  center->ObserveNotification(listener.get(), "Changed", &Listener::Hear);
  std::thread::id poster;
  std::thread([&] {
    poster = std::this_thread::get_id();
    center->PostNotification("Changed");
  }).join();
  ASSERT_EQ(listener->threads.size(), 1u);
  EXPECT_EQ(listener->threads[0], poster);
}

TEST_F(NotificationTest, UserInfoOrElseTheNameAndThePostingObject) {
  center->ObserveNotification(listener.get(), "N", &Listener::Hear);
  auto number = MakeRef<TNumber>(2);
  center->PostNotification("N", number.get());
  const PlistValue::Dictionary info{{"path", PlistValue("/a")}};
  center->PostNotification("N", nullptr, &info);
  ASSERT_EQ(listener->infos.size(), 2u);
  EXPECT_EQ(listener->infos[0], (PlistValue::Dictionary{{"notification", PlistValue("N")}}));
  EXPECT_EQ(listener->objects[0], number.get());
  EXPECT_EQ(listener->infos[1], info);
}

TEST_F(NotificationTest, APostingObjectFilterPassesOnlyThatObject) {
  auto mine = MakeRef<TNumber>(1), other = MakeRef<TNumber>(1);
  center->ObserveNotification(listener.get(), "N", &Listener::Hear, mine.get());
  center->PostNotification("N", other.get());
  center->PostNotification("N");
  EXPECT_TRUE(listener->heard.empty());
  center->PostNotification("N", mine.get());
  EXPECT_EQ(listener->heard.size(), 1u);
}

TEST_F(NotificationTest, AnObserverThatHasGoneIsSkippedWithAWarning) {
  center->ObserveNotification(listener.get(), "Gone", &Listener::Hear);
  listener.reset();
  CaptureDiagnostics diagnostics;
  center->PostNotification("Gone");
  EXPECT_EQ(diagnostics.Text(), "F**** warning: NotificationToMethodCallback handler has nil target for Gone\n");
}

TEST_F(NotificationTest, RemovingObservers) {
  auto second = MakeRef<Listener>();
  center->ObserveNotification(listener.get(), "A", &Listener::Hear);
  center->ObserveNotification(listener.get(), "B", &Listener::Hear);
  center->ObserveNotification(second.get(), "A", &Listener::Hear);
  EXPECT_TRUE(center->IsObserving(listener.get(), "A"));
  center->RemoveObserver(listener.get(), "A");
  EXPECT_FALSE(center->IsObserving(listener.get(), "A"));
  EXPECT_TRUE(center->IsObserving(listener.get(), "B"));
  center->PostNotification("A");
  EXPECT_TRUE(listener->heard.empty());
  EXPECT_EQ(second->heard.size(), 1u);
  center->RemoveEveryObserver(listener.get());
  center->PostNotification("B");
  EXPECT_TRUE(listener->heard.empty());
}

TEST_F(NotificationTest, AHandlerMayObserveOrPostInTurn) {
  struct Chain : TObject {
    TNotificationCenter* center;
    int calls = 0;
    void First(TNotification*) {
      ++calls;
      center->ObserveNotification(this, "Second", &Chain::Second);
      center->PostNotification("Second");
    }
    void Second(TNotification*) { ++calls; }
  };
  auto chain = MakeRef<Chain>();
  chain->center = center.get();
  center->ObserveNotification(chain.get(), "First", &Chain::First);
  center->PostNotification("First");
  EXPECT_EQ(chain->calls, 2);
}

TEST(DefaultCenter, IsOneForTheProcess) {
  EXPECT_NE(TNotificationCenter::DefaultCenter(), nullptr);
  EXPECT_EQ(TNotificationCenter::DefaultCenter(), TNotificationCenter::DefaultCenter());
}

}  // namespace
}  // namespace vantorel
