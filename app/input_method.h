// The input method of an edit that takes plain ASCII only (addresses,
// hexadecimal bytes, the device name): switched off whenever the edit
// receives the focus, while the user can still switch it on again by hand.
// One source file per platform implements it.
#pragma once

class QWidget;

namespace app {

// Switches the input method off for the edit that has just received the focus.
void SwitchInputMethodOff(QWidget* edit);

}  // namespace app
