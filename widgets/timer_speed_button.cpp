#include "widgets/timer_speed_button.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QTimer>
#include <qdrawutil.h>

TTimerSpeedButton::TTimerSpeedButton(QWidget* parent) : QAbstractButton(parent) {
  // Drawn and driven by the mouse only; the keyboard focus stays elsewhere.
  setFocusPolicy(Qt::NoFocus);
  setAutoRepeat(false);
}

void TTimerSpeedButton::setShowFocusRect(bool on) {
  if (FShowFocusRect == on) return;
  FShowFocusRect = on;
  update();
}

void TTimerSpeedButton::setGlyph(const QPixmap& glyph) {
  FGlyph = glyph;
  update();
}

QSize TTimerSpeedButton::sizeHint() const { return FGlyph.size() + QSize(6, 4); }

void TTimerSpeedButton::Click() { emit clicked(isChecked()); }

void TTimerSpeedButton::CancelRepeat() {
  if (FRepeatTimer) FRepeatTimer->stop();
  FMouseCaptured = false;
  FCancelled = true;
  setDown(false);
}

bool TTimerSpeedButton::event(QEvent* e) {
  // A modal window opening over ours (an error shown while the press moved
  // the focus, or by a step's change handler) ends the press and its repeat.
  if (e->type() == QEvent::WindowBlocked) CancelRepeat();
  return QAbstractButton::event(e);
}

void TTimerSpeedButton::mousePressEvent(QMouseEvent* e) {
  QPointer<TTimerSpeedButton> self(this);
  FCancelled = false;
  emit MouseDown(e->button());
  if (!self) return;
  // The press moved the focus, and a message box opened meanwhile (before
  // the press reached the arrow, or while the arrow passed it on) took the
  // release: the press is over before it began.
  const bool released = e->spontaneous() && !(QGuiApplication::mouseButtons() & e->button());
  if (FCancelled || released) {
    CancelRepeat();
    e->accept();
    return;
  }
  QAbstractButton::mousePressEvent(e);
  if (e->button() == Qt::LeftButton) FMouseCaptured = true;
  // Other buttons end here too instead of reaching the edit beneath.
  e->accept();
  if (FAllowTimer) {
    if (!FRepeatTimer) {
      FRepeatTimer = new QTimer(this);
      connect(FRepeatTimer, &QTimer::timeout, this, &TTimerSpeedButton::TimerExpired);
    }
    FRepeatTimer->setInterval(kInitRepeatPause);
    FRepeatTimer->start();
  }
}

void TTimerSpeedButton::mouseMoveEvent(QMouseEvent* e) {
  if (FCancelled) {
    e->accept();
    return;
  }
  QAbstractButton::mouseMoveEvent(e);
}

void TTimerSpeedButton::mouseReleaseEvent(QMouseEvent* e) {
  QPointer<TTimerSpeedButton> self(this);
  if (e->button() == Qt::LeftButton) FMouseCaptured = false;
  if (!FCancelled) QAbstractButton::mouseReleaseEvent(e);  // clicks when over the button
  if (!self) return;
  if (FRepeatTimer) FRepeatTimer->stop();
  e->accept();
}

void TTimerSpeedButton::TimerExpired() {
  FRepeatTimer->setInterval(kRepeatPause);
  if (isDown() && FMouseCaptured) Click();
}

void TTimerSpeedButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const bool down = isDown();
  qDrawWinButton(&p, rect(), palette(), down, &palette().brush(QPalette::Button));

  QPixmap glyph = FGlyph;
  if (!glyph.isNull()) {
    if (!isEnabled()) {
      QStyleOption opt;
      opt.initFrom(this);
      glyph = style()->generatedIconPixmap(QIcon::Disabled, glyph, &opt);
    }
    const QSize gs = glyph.deviceIndependentSize().toSize();
    int x = (width() - gs.width()) / 2;
    int y = (height() - gs.height()) / 2;
    if (down) {
      ++x;
      ++y;
    }
    p.drawPixmap(x, y, glyph);
  }

  if (FShowFocusRect) {
    QStyleOptionFocusRect fr;
    fr.initFrom(this);
    fr.rect = rect().adjusted(3, 3, -3, -3);
    if (down) fr.rect.translate(1, 1);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &fr, &p, this);
  }
}
