// Elsewhere (X11, Wayland): Qt offers no call that switches an input method
// off while leaving the user able to switch it on again. The nearest means:
// the edit carries Latin-only hints (set where it is created), which input
// method frameworks that read content hints use to start in direct Latin
// input, and any composition still open is ended here, so no half-composed
// text reaches the edit. The user's own toggle keeps working.
#include "app/input_method.h"

#include <QGuiApplication>
#include <QInputMethod>

namespace app {

void SwitchInputMethodOff(QWidget*) { QGuiApplication::inputMethod()->reset(); }

}  // namespace app
