#pragma once
// Waiting and pictures for the desktop tests: waits run the event loop until
// a condition holds, with a time limit so a stuck page fails instead of
// hanging, and pictures of windows are saved for a person to look at.

#include <QString>
#include <QTest>
#include <QWidget>
#include <functional>

namespace velmar::testing {

inline constexpr int kUiWaitMs = 30000;

// Runs the event loop until `done` holds; false after the time limit.
inline bool WaitUntil(const std::function<bool()>& done, int ms = kUiWaitMs) {
  return QTest::qWaitFor(done, ms);
}

// Saves a picture of the widget under $VELMAR_UI_SHOTS (when set) for a
// person to look at; tests do not judge pixels.
void SaveShot(QWidget* widget, const QString& name);

}  // namespace velmar::testing
