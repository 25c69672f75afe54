#pragma once

#include <QString>
#include <functional>

class QObject;

// Opens a document in the desktop's program for its type through `xdg-open`, which runs on its
// own, its output discarded. `failed` is called on the main thread when the desktop cannot open
// it: `xdg-open` is missing, or ends with a failure (no program for the type, no desktop) within
// the first ten seconds; a later end is the outcome of the program it waited for. The watch ends
// with `owner`; `xdg-open` and what it started go on.
void openDocument(QObject* owner, const QString& path, std::function<void()> failed);
