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
class QMainWindow;
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
  // The small windows that show the guide (when the desktop cannot open it) and what the
  // Permissions button found; made when first needed.
  std::unique_ptr<QMainWindow> guide;
  std::unique_ptr<QMainWindow> access;

  // Places the window on its screen: the preferred size where it fits with the window manager's
  // frame, centred; the largest size that fits otherwise, never below the minimum.
  void place();
  // Brings the window to the front, out of its minimised state: another start asked for it.
  void show();

 private Q_SLOTS:
  // Runs the tasks that other threads have handed to the main thread.
  void deliver();

 private:
  void build();
  void refresh();
  QWidget* make(const Row& row);
  // Shows `text` in the small window `shown`, made on first use; Markdown or plain text.
  void present(std::unique_ptr<QMainWindow>& shown, const QString& title, const QString& text,
               bool markdown);

  QTimer* timer = nullptr;
  std::unique_ptr<Watcher> watcher;
  std::vector<std::pair<QWidget*, const Row*>> controls;  // each control and its row
  QLabel* lastText = nullptr;  // the text row made last: it names the pop-up that follows it
  bool placed = false;         // the window manager's frame was known when the window was placed
  int placing = 0;             // checks left for the frame after the window was shown
  // Tasks on their way from other threads to the main thread (front.cpp).
  struct Inbox;
  std::shared_ptr<Inbox> inbox;
};

// Makes SIGTERM, SIGINT and SIGHUP quit the application's event loop, so that they run the
// termination steps like every other way out.
void watchSignals();
