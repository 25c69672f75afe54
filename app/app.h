#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/settings.h"

class Backend;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTimer;
class QWidget;
class Watcher;

// The application shell: owns the capture backend for the life of the process, builds the window
// and drives it from the backend's statuses, keeps the settings file, the heartbeat and the
// session observers, and releases the pedal on every way out.
class App : public QObject {
  Q_OBJECT

 public:
  // `arguments` are the command line, the program path included (for "--ui-test").
  explicit App(QStringList arguments);
  ~App() override;

  // The launch sequence, once, on the main thread with the application object in place.
  void launch();
  // The termination steps, once: heartbeat off, backend closed, a 0.1-second wait for the final
  // stop. Every way out of the program runs them.
  void terminate();

  // ---- handlers of the window's push buttons (handlers.cpp)
  void permissions();
  void inspect();
  void start();
  void learn(QPushButton* button);
  void save();
  void activate();
  void pause();
  void stop();
  void guide();
  // The status handler: shows `message` and sets every control's enabled state.
  void show(const std::string& message, bool captured, bool active);

  // ---- fields, in the order of their roles

  std::shared_ptr<Backend> backend;
  std::unique_ptr<QWidget> window;
  QLabel* status;  // owned by the window once it is built
  std::vector<QComboBox*> menus;
  QComboBox* scope;
  QCheckBox* review;
  QCheckBox* verified;
  QTimer* timer = nullptr;
  bool capture = false;
  bool activated = false;
  std::unique_ptr<Watcher> watcher;
  const std::filesystem::path file;
  Settings settings;
  std::map<QString, QPushButton*> buttons;

 private Q_SLOTS:
  // Shows the statuses that have arrived from the worker thread.
  void deliver();

 private:
  void build();  // the window's rows (window.cpp)
  void check();  // the "--ui-test" startup check
  QPushButton* button(const QString& title, void (App::*action)());

  QStringList arguments;
  bool built = false;
  bool terminated = false;
  // Statuses on their way from the worker thread to the main thread (app.cpp).
  struct Inbox;
  std::shared_ptr<Inbox> inbox;
};

// The guide document: share/quillfen/README.md beside the installed program in `programFolder`
// (its bin/ folder), else `sourceCopy` (the source tree's, for a program run from the build tree);
// empty when neither exists.
std::filesystem::path guidePath(const std::filesystem::path& programFolder,
                                const std::filesystem::path& sourceCopy);

// Makes SIGTERM, SIGINT and SIGHUP quit the application's event loop, so that they run the
// termination steps like every other way out.
void watchSignals();
