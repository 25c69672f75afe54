// Sleep, lock and session changes seen over D-Bus, on a private bus.

#include <QDBusConnection>

#include "app/qt/watcher.h"
#include "bus.h"
#include "fixture.h"

namespace {

class Observing : public testing::Test {
 protected:
  void SetUp() override {
    if (busAddress().isEmpty())
      GTEST_SKIP() << "no dbus-daemon to run a private bus";
    desktop = std::make_unique<Desktop>();
    ASSERT_TRUE(desktop->connection.isConnected());
  }

  // A watcher on its own connections to the private bus, once it has found its session.
  std::unique_ptr<Watcher> watch() {
    auto made = std::make_unique<Watcher>(QDBusConnection::connectToBus(busAddress(), "system"),
                                          QDBusConnection::connectToBus(busAddress(), "session"),
                                          [this] { ++changes; });
    EXPECT_TRUE(until([this] { return desktop->logind.asked == 1; }));
    if (desktop->logind.outside) {
      EXPECT_TRUE(until([this] { return desktop->user.asked == 1; }));
    }
    QTest::qWait(50);  // the answer's way back
    return made;
  }

  // Sends `quiet` signals that must not count, then one that must, and waits for it: the bus
  // keeps their order, so a miscounted quiet signal shows as a count above one.
  void expectOne(const std::function<void()>& quiet, const std::function<void()>& loud) {
    changes = 0;
    quiet();
    loud();
    EXPECT_TRUE(until([this] { return changes >= 1; }));
    QTest::qWait(50);
    EXPECT_EQ(changes, 1);
  }

  std::unique_ptr<Desktop> desktop;
  int changes = 0;
};

TEST_F(Observing, SleepLockInactiveSessionAndScreenSaver) {
  const auto watcher = watch();
  expectOne([&] { desktop->sleep(false); }, [&] { desktop->sleep(true); });
  expectOne([] {}, [&] { desktop->lock(); });
  expectOne(
      [&] {
        desktop->activeChanged(true);
        desktop->activeChanged(false, "org.freedesktop.login1.Seat");
      },
      [&] { desktop->activeChanged(false); });
  expectOne([&] { desktop->screenSaver(false); }, [&] { desktop->screenSaver(true); });
  expectOne([] {}, [&] { desktop->screenSaver(true, "org.gnome.ScreenSaver"); });
}

TEST_F(Observing, OutsideASessionTheUsersDisplaySessionIsWatched) {
  desktop->logind.outside = true;
  const auto watcher = watch();
  expectOne([] {}, [&] { desktop->lock(); });
  expectOne([&] { desktop->activeChanged(true); }, [&] { desktop->activeChanged(false); });
}

TEST(Watcher, AbsentBusesMeanNoObserver) {
  int changes = 0;
  const Watcher watcher(QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "none"),
                        QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "none"),
                        [&] { ++changes; });
  QTest::qWait(20);
  EXPECT_EQ(changes, 0);
}

class Sleeping : public Window {};

TEST_F(Sleeping, SleepWhileIdleForgetsTheInspection) {
  if (busAddress().isEmpty())
    GTEST_SKIP() << "no dbus-daemon to run a private bus";
  Desktop desktop;
  open();
  ASSERT_TRUE(until([&] { return desktop.logind.asked == 1; }));
  const std::uint64_t pedal = sim::plug();
  click("Inspect pedal");
  expectStatus(QString("VEC USB Footpedal · 05f3:00ff · two-byte candidate protocol · registry "
                       "%1. Physical compatibility unverified.")
                   .arg(pedal));
  desktop.sleep(true);
  expectStatus("Session or sleep changed. Inspect again.");
  expectWidgetsFollowTheApp();

  tick(front->review);
  click("Start isolated test");
  expectStatus("Inspect one eligible pedal and review recovery first.");
  EXPECT_FALSE(sim::opened(pedal));
}

}  // namespace
