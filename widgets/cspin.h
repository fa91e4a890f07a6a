// The spin edit family: a numeric line edit (TCSpinEdit) with a pair of
// small up/down arrows inside its right edge (TCSpinButton), each arrow a
// push button that repeats its click while held down (TTimerSpeedButton).
#pragma once

#include <QAbstractButton>
#include <QLineEdit>
#include <QPixmap>

#include <exception>
#include <functional>

class QMenu;
class QTimer;

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

// One arrow: a windowless-looking push button without focus of its own that,
// when repeat is allowed, clicks once 400 ms after the press and then every
// 100 ms while it is shown pressed and still holds the mouse, plus the usual
// click at release over the button.
class TTimerSpeedButton : public QAbstractButton {
  Q_OBJECT
 public:
  static constexpr int kInitRepeatPause = 400;  // ms before the first repeat
  static constexpr int kRepeatPause = 100;      // ms between repeats

  explicit TTimerSpeedButton(QWidget* parent = nullptr);

  bool AllowTimer() const { return FAllowTimer; }
  void setAllowTimer(bool on) { FAllowTimer = on; }
  // Draws a dotted focus rectangle inside the button.
  bool ShowFocusRect() const { return FShowFocusRect; }
  void setShowFocusRect(bool on);
  QPixmap Glyph() const { return FGlyph; }
  void setGlyph(const QPixmap& glyph);

  // The repeat timer; null until the first press that needs it.
  QTimer* RepeatTimer() const { return FRepeatTimer; }
  // Runs the click handlers once, without touching the pressed state.
  void Click();
  // Stops the repeat and lets go of the press (the press is abandoned, no
  // click at release follows). Also done when a modal window (an error
  // display) opens during the press: the release goes to that window and
  // never comes back here.
  void CancelRepeat();

  QSize sizeHint() const override;

 signals:
  // Any mouse button pressed on the arrow, before it is shown pressed.
  void MouseDown(Qt::MouseButton button);

 protected:
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  void TimerExpired();

  bool FAllowTimer = false;
  bool FShowFocusRect = false;
  bool FMouseCaptured = false;  // left button pressed here and not yet released
  bool FCancelled = false;      // the current press was abandoned by CancelRepeat
  QPixmap FGlyph;
  QTimer* FRepeatTimer = nullptr;
};

// The arrow pair: up arrow above the down arrow, overlapping by one pixel.
class TCSpinButton : public QWidget {
  Q_OBJECT
 public:
  using ClickHandler = std::function<void(QObject* sender)>;

  explicit TCSpinButton(QWidget* parent = nullptr);

  TTimerSpeedButton* UpButton() const { return FUpButton; }
  TTimerSpeedButton* DownButton() const { return FDownButton; }
  // The arrow that Space presses while the pair has the focus.
  TTimerSpeedButton* FocusedButton() const { return FFocusedButton; }

  // The control that takes the keyboard focus when an arrow is pressed.
  QWidget* FocusControl() const { return FFocusControl; }
  void setFocusControl(QWidget* control) { FFocusControl = control; }

  // Called with the pair as sender when an arrow clicks; unset means nothing.
  const ClickHandler& OnUpClick() const { return FOnUpClick; }
  void setOnUpClick(ClickHandler handler) { FOnUpClick = std::move(handler); }
  const ClickHandler& OnDownClick() const { return FOnDownClick; }
  void setOnDownClick(ClickHandler handler) { FOnDownClick = std::move(handler); }

  // Arrow pictures; a null pixmap brings back the default triangle.
  QPixmap UpGlyph() const;
  void setUpGlyph(const QPixmap& glyph);
  QPixmap DownGlyph() const;
  void setDownGlyph(const QPixmap& glyph);
  // The default pictures: 9 x 6 black triangles with a one-pixel margin.
  static QPixmap DefaultUpGlyph();
  static QPixmap DefaultDownGlyph();

  // Whether the pair itself is reached with Tab (false by default).
  bool TabStop() const { return (focusPolicy() & Qt::TabFocus) != 0; }
  void setTabStop(bool on) { setFocusPolicy(on ? Qt::TabFocus : Qt::NoFocus); }

 protected:
  void resizeEvent(QResizeEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  void AdjustArrows();
  void SetFocusBtn(TTimerSpeedButton* button);
  void BtnClick(TTimerSpeedButton* button);
  void BtnMouseDown(TTimerSpeedButton* button, Qt::MouseButton mouseButton);
  bool CanTakeFocus(const QWidget* w) const;

  TTimerSpeedButton* FUpButton = nullptr;
  TTimerSpeedButton* FDownButton = nullptr;
  TTimerSpeedButton* FFocusedButton = nullptr;
  QWidget* FFocusControl = nullptr;
  ClickHandler FOnUpClick;
  ClickHandler FOnDownClick;
};

// Numeric edit with arrows. The text is free to hold anything the character
// filter lets through; Value() reads it (repairing an unreadable text to
// MinValue) and SetValue() writes a number brought into range. textChanged
// is the change notification, for typed and programmatic changes alike.
class TCSpinEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit TCSpinEdit(QWidget* parent = nullptr);
  ~TCSpinEdit() override;

  int MinValue() const { return FMinValue; }
  void setMinValue(int v) { FMinValue = v; }
  int MaxValue() const { return FMaxValue; }
  void setMaxValue(int v) { FMaxValue = v; }
  int Increment() const { return FIncrement; }
  void setIncrement(int v) { FIncrement = v; }
  // When false only the arrows (and arrow keys) change the text.
  bool EditorEnabled() const { return FEditorEnabled; }
  void setEditorEnabled(bool on);
  // Select the whole text when the focus enters other than by a left mouse
  // press on the edit itself.
  bool AutoSelect() const { return FAutoSelect; }
  void setAutoSelect(bool on) { FAutoSelect = on; }

  int Value() { return GetValue(); }
  int GetValue();
  void SetValue(int v);
  int CheckValue(int v) const;

  virtual bool IsValidChar(QChar c) const;
  virtual void UpClick(QObject* sender);
  virtual void DownClick(QObject* sender);

  int GetMinHeight() const;
  // The minimum-height rule itself: control font cell height, system font
  // cell height, border height.
  static int MinHeightFor(int fontHeight, int systemFontHeight, int borderHeight);
  void SetEditRect();

  TCSpinButton* Button() const { return FButton; }

  // The edit's context menu with cut and paste disabled while they are not
  // allowed (the caller owns the menu).
  QMenu* CreateContextMenu();

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void inputMethodEvent(QInputMethodEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  bool EditingBlocked() const { return !FEditorEnabled || isReadOnly(); }
  void Step(long long delta);

  int FMinValue = 0;
  int FMaxValue = 0;
  int FIncrement = 1;
  bool FEditorEnabled = true;
  bool FAutoSelect = true;
  // Focus arrived from a mouse press whose target is not known yet: Qt moves
  // the focus before it delivers the press, and a press on an arrow gives the
  // focus to this edit too.
  bool FMouseFocusPending = false;
  TCSpinButton* FButton = nullptr;
};
