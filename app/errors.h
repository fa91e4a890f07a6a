// Exceptions of the user interface and the default exception display.
//
// Every std::exception counts as a framework exception: its message is
// shown. EAbort is the silent abort, never shown. Anything thrown that is not
// a std::exception is shown as an empty message box.
#pragma once

#include <QString>

#include <exception>
#include <stdexcept>
#include <string>

class QWidget;

namespace app {

class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return ""; }
};

// Raised by a range check; also the class of the empty-device-name error.
class ERangeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A plain validation failure of the panel.
class EValidation : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The application title: the caption of every error message box.
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

// The text the default display shows for an exception: the innermost
// non-empty message of a nested chain, with "." appended when its last
// character's code is above that of "." (46).
QString DisplayText(const std::exception& e);
QString DisplayText(const QString& message);

// Shows the message in a modal stop-icon box with a single OK button,
// captioned with the application title and owned by the active window.
void ShowMessage(const QString& text);

// The default exception display for whatever is in flight (call from a
// catch block or with a captured exception_ptr). EAbort shows nothing.
void ShowException(std::exception_ptr error);

// The guard every handler wired to a Qt signal or event is entered through:
// no exception ever crosses a Qt frame.
template <class F>
void Guard(F&& handler) noexcept {
  try {
    handler();
  } catch (...) {
    ShowException(std::current_exception());
  }
}

// Counts the message boxes shown, for tests and diagnostics.
int MessagesShown();

}  // namespace app
