// Windows: the input method editor's open status of the window's input
// context is set to closed. The toolkit keeps the context associated while an
// edit has the focus, so the user's own toggle (the IME key, the language
// bar) opens it again.
#include "app/input_method.h"

#include <QWidget>
#include <QWindow>

#include <windows.h>
#include <imm.h>

namespace app {

void SwitchInputMethodOff(QWidget* edit) {
  const QWindow* window = edit->window()->windowHandle();
  if (window == nullptr) return;
  const HWND hwnd = reinterpret_cast<HWND>(window->winId());
  // The toolkit associates the default context with the window only while the
  // focus widget accepts input methods, and it may do so after this call:
  // associate it here, so there is a context to close.
  ImmAssociateContextEx(hwnd, nullptr, IACE_DEFAULT);
  if (HIMC context = ImmGetContext(hwnd)) {
    ImmSetOpenStatus(context, FALSE);
    ImmReleaseContext(hwnd, context);
  }
}

}  // namespace app
