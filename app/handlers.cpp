// What the window's controls do, and how each status of the backend shows in the window.

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <string>

#include "app/app.h"
#include "app/file.h"
#include "backend/backend.h"
#include "core/vocabulary.h"
#include "platform/platform.h"

#ifndef QUILLFEN_GUIDE
#define QUILLFEN_GUIDE ""
#endif

// Commands capture the backend by plain pointer: they run on the worker thread, which holds the
// backend while it runs, and a command that never runs must not keep the backend alive.

void App::permissions() {
  platform::requestListenEventAccess();
  platform::isProcessTrustedWithPrompt();
}

void App::inspect() {
  Backend* engine = backend.get();
  backend->send([engine] { engine->inspect(); });
}

void App::start() {
  const bool reviewed = review->isChecked();
  verified->setChecked(false);
  Backend* engine = backend.get();
  backend->send([engine, reviewed] { engine->start(reviewed); });
}

void App::learn(QPushButton* button) {
  const std::string name(controls.at(std::size_t(button->property("tag").toInt())));
  Backend* engine = backend.get();
  backend->send([engine, name] { engine->learn(name); });
}

void App::save() {
  if (activated)
    return;
  verified->setChecked(false);

  Settings chosen;
  try {
    // A pop-up without a selection (index -1) fails the lookup like an invalid record.
    for (std::size_t i = 0; i < controls.size(); ++i)
      chosen.mappings[std::string(controls[i])] =
          actions.at(std::size_t(menus.at(i)->currentIndex()));
    chosen.guardScope = scopes.at(std::size_t(scope->currentIndex()));
    chosen.validate();
    prepare(file.parent_path());
    store(file, encode(chosen));
  } catch (const std::exception&) {
    status->setText("Settings could not be saved. No activation requested.");
    return;
  }
  settings = chosen;
  Backend* engine = backend.get();
  backend->send([engine, chosen] { engine->configure(chosen); });
  status->setText("Saved locally. Activation remains explicit.");
}

void App::activate() {
  const bool confirmed = verified->isChecked();
  Backend* engine = backend.get();
  backend->send([engine, confirmed] { engine->activate(confirmed); });
}

void App::pause() {
  Backend* engine = backend.get();
  backend->send([engine] { engine->pause(); });
}

void App::stop() {
  Backend* engine = backend.get();
  backend->send([engine] { engine->stop("Capture stopped. Original input restored."); });
}

void App::guide() {
  const std::filesystem::path found = guidePath(
      QCoreApplication::applicationDirPath().toStdString(), std::filesystem::path(QUILLFEN_GUIDE));
  if (!found.empty())
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(found.string())));
}

std::filesystem::path guidePath(const std::filesystem::path& programFolder,
                                const std::filesystem::path& sourceCopy) {
  std::error_code error;
  const std::filesystem::path installed =
      programFolder.parent_path() / "share" / "quillfen" / "README.md";
  if (std::filesystem::is_regular_file(installed, error))
    return installed;
  if (!sourceCopy.empty() && std::filesystem::is_regular_file(sourceCopy, error))
    return sourceCopy;
  return {};
}

void App::show(const std::string& message, bool captured, bool active) {
  status->setText(QString::fromStdString(message));
  capture = captured;
  activated = active;
  for (QComboBox* menu : menus)
    menu->setEnabled(!active);
  scope->setEnabled(!active);

  for (const auto& [title, control] : buttons) {
    bool enabled = true;
    if (title.startsWith("Learn") || title == "Activate actions")
      enabled = captured && !active;
    else if (title == "Pause actions")
      enabled = active;
    else if (title == "Stop capture")
      enabled = captured;
    else if (title == "Start isolated test" || title == "Inspect pedal")
      enabled = !captured;
    else if (title == "Save actions & guard")
      enabled = !active;
    control->setEnabled(enabled);
  }

  if (!captured)
    verified->setChecked(false);
}
