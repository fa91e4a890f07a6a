// One arrow of the spin edit's arrow pair.
#pragma once

#include <QAbstractButton>
#include <QPixmap>

class QTimer;

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
