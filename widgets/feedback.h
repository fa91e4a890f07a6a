// What the spin edit family gives the program to hear and to report: the
// system beep, and the hand-off of exceptions raised by an arrow's click.
#pragma once

#include <exception>
#include <functional>

namespace widgets {

// The default system beep. Every beep of these controls goes through here;
// BeepCount() tells how many have sounded since the program started.
void Beep();
int BeepCount();

// Receives an exception raised by an arrow's click handler (the click runs
// from a Qt signal or timer, so it must not unwind through Qt). The default
// handler only logs a warning; the application installs its own error
// display. Passing an empty function restores the default.
using ExceptionHandler = std::function<void(std::exception_ptr)>;
void SetExceptionHandler(ExceptionHandler handler);
void ReportException(std::exception_ptr error);

}  // namespace widgets
