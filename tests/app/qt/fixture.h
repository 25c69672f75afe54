#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "../../support/files.h"
#include "app/qt/front.h"
#include "backend/backend.h"
#include "platform/sim/sim.h"

// Runs the event loop until `done` holds, at most five seconds.
inline bool until(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > 5000)
      return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

inline const QString inspected =
    "VEC USB Footpedal · 05f3:00ff · two-byte candidate protocol · registry %1. Physical "
    "compatibility unverified.";
inline const QString started =
    "Isolated test started. Release pedals to establish neutral, then learn each pedal. Verify "
    "originals and ordinary mouse in another app.";

// One launched Qt window per test over a fresh simulated world, with its settings in a folder of
// its own.
class Window : public testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    config = scratchFolder("app");
    ASSERT_FALSE(config.empty());
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  }

  void TearDown() override {
    close();
    std::filesystem::remove_all(config);
  }

  void open() {
    front = std::make_unique<Front>(QStringList{"quillfen"});
    front->app.launch();
  }

  // Ends the window and waits until the worker thread has let go of the backend, so the next
  // test starts from a quiet world.
  void close() {
    if (!front)
      return;
    const std::weak_ptr<Backend> engine = front->app.backend;
    front.reset();
    for (int i = 0; i < 500 && !engine.expired(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(engine.expired()) << "the worker thread did not end";
  }

  std::filesystem::path settingsFile() const { return config / "Quillfen" / "settings.json"; }
  void write(const std::string& bytes) { put(settingsFile(), bytes); }

  // Waits for the status line to read `text`.
  void expectStatus(const QString& text) {
    until([&] { return front->status->text() == text; });
    EXPECT_EQ(front->status->text(), text);
  }

  // Clicks a push button with the mouse, as the user would; it must be enabled.
  void click(const QString& title) {
    QPushButton* button = front->buttons.at(title);
    ASSERT_TRUE(button->isEnabled()) << title.toStdString();
    QTest::mouseClick(button, Qt::LeftButton);
  }
  void tick(QCheckBox* box) {
    ASSERT_FALSE(box->isChecked());
    QTest::mouseClick(box, Qt::LeftButton);
    ASSERT_TRUE(box->isChecked());
  }

  // Plugs in a pedal, inspects it and starts the isolated test; returns its registry ID.
  std::uint64_t capture() {
    const std::uint64_t pedal = sim::plug();
    click("Inspect pedal");
    expectStatus(inspected.arg(pedal));
    tick(front->review);
    click("Start isolated test");
    expectStatus(started);
    return pedal;
  }

  // Teaches one pedal by clicking its learn button and a complete press and release.
  void teach(std::uint64_t pedal, const QString& name, std::uint8_t bit, const QString& learned) {
    click("Learn " + name);
    expectStatus("Press and release only the " + name + " pedal.");
    ASSERT_TRUE(sim::deliver(pedal, {bit, 0}));
    ASSERT_TRUE(sim::deliver(pedal, {0, 0}));
    expectStatus("Isolated / paused · learned: " + learned + " · held: 0");
  }

  // Every widget shows what the App holds: enabled states, check boxes and selections.
  void expectWidgetsFollowTheApp() {
    const App& app = front->app;
    ASSERT_EQ(front->buttons.size(), app.buttons.size());
    for (const auto& [title, enabled] : app.buttons)
      EXPECT_EQ(front->buttons.at(QString::fromStdString(title))->isEnabled(), enabled) << title;
    for (std::size_t i = 0; i < front->menus.size(); ++i) {
      EXPECT_EQ(front->menus[i]->isEnabled(), !app.activated);
      EXPECT_EQ(front->menus[i]->currentIndex(), app.menus.at(i));
    }
    EXPECT_EQ(front->scope->isEnabled(), !app.activated);
    EXPECT_EQ(front->scope->currentIndex(), app.scope);
    EXPECT_EQ(front->review->isChecked(), app.review);
    EXPECT_EQ(front->verified->isChecked(), app.verified);
    EXPECT_EQ(front->status->text().toStdString(), app.status);
  }

  std::filesystem::path config;
  std::unique_ptr<Front> front;
};
