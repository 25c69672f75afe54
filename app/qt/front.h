#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <vector>

#include "app/app.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTimer;
class QWidget;
class Watcher;

// The Qt front end: makes the window's widgets from the App's rows, forwards clicks, check-box
// and pop-up changes to the App, shows the App's state, and gives the App Qt's timers, queued
// calls, the D-Bus session watcher and the desktop's services.
class Front : public QObject {
  Q_OBJECT

 public:
  // `arguments` are the command line, the program path included.
  explicit Front(const QStringList& arguments);
  ~Front() override;

  App app;

  // The widgets, once the App's launch has built them.
  std::unique_ptr<QWidget> window;
  QLabel* status = nullptr;
  std::vector<QComboBox*> menus;
  QComboBox* scope = nullptr;
  QCheckBox* review = nullptr;
  QCheckBox* verified = nullptr;
  std::map<QString, QPushButton*> buttons;  // every push button, by its title

 private Q_SLOTS:
  // Runs the tasks that other threads have handed to the main thread.
  void deliver();

 private:
  void build();
  void refresh();
  QWidget* make(const Row& row);

  QTimer* timer = nullptr;
  std::unique_ptr<Watcher> watcher;
  std::vector<std::pair<QWidget*, const Row*>> controls;  // each control and its row
  // Tasks on their way from other threads to the main thread (front.cpp).
  struct Inbox;
  std::shared_ptr<Inbox> inbox;
};

// Makes SIGTERM, SIGINT and SIGHUP quit the application's event loop, so that they run the
// termination steps like every other way out.
void watchSignals();
