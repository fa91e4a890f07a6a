#include "widgets/cspin_button.h"

#include <QImage>
#include <QKeyEvent>

#include "widgets/feedback.h"

namespace {

// 9 x 6 triangle, rows 7, 5, 3 and 1 pixels wide, one-pixel margin.
QPixmap Triangle(bool pointUp) {
  QImage img(9, 6, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  for (int row = 0; row < 4; ++row) {  // row 0 is the widest
    const int width = 7 - 2 * row;
    const int y = pointUp ? 4 - row : 1 + row;
    for (int x = 0; x < width; ++x) img.setPixel(1 + row + x, y, qRgba(0, 0, 0, 255));
  }
  return QPixmap::fromImage(img);
}

}  // namespace

TCSpinButton::TCSpinButton(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(true);
  setFocusPolicy(Qt::NoFocus);  // not a tab stop unless asked
  setMinimumWidth(15);          // narrower arrows are widened to 15

  auto make = [this](const QPixmap& glyph) {
    auto* b = new TTimerSpeedButton(this);
    b->setAllowTimer(true);
    b->setGlyph(glyph);
    connect(b, &QAbstractButton::clicked, this, [this, b] { BtnClick(b); });
    connect(b, &TTimerSpeedButton::MouseDown, this,
            [this, b](Qt::MouseButton mb) { BtnMouseDown(b, mb); });
    b->show();
    return b;
  };
  FUpButton = make(DefaultUpGlyph());
  FDownButton = make(DefaultDownGlyph());

  resize(20, 25);
  AdjustArrows();
  FFocusedButton = FUpButton;
}

QPixmap TCSpinButton::DefaultUpGlyph() { return Triangle(true); }
QPixmap TCSpinButton::DefaultDownGlyph() { return Triangle(false); }

QPixmap TCSpinButton::UpGlyph() const { return FUpButton->Glyph(); }
void TCSpinButton::setUpGlyph(const QPixmap& glyph) {
  FUpButton->setGlyph(glyph.isNull() ? DefaultUpGlyph() : glyph);
}
QPixmap TCSpinButton::DownGlyph() const { return FDownButton->Glyph(); }
void TCSpinButton::setDownGlyph(const QPixmap& glyph) {
  FDownButton->setGlyph(glyph.isNull() ? DefaultDownGlyph() : glyph);
}

void TCSpinButton::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  AdjustArrows();
}

// Up arrow on the upper half, down arrow on the rest, one pixel of overlap.
void TCSpinButton::AdjustArrows() {
  const int w = std::max(width(), 15);
  const int h = height();
  FUpButton->setGeometry(0, 0, w, h / 2);
  const int upHeight = FUpButton->height();
  FDownButton->setGeometry(0, upHeight - 1, w, h - upHeight + 1);
  if (w != width()) resize(w, h);
}

bool TCSpinButton::CanTakeFocus(const QWidget* w) const {
  return w->isEnabled() && w->isVisible();
}

void TCSpinButton::SetFocusBtn(TTimerSpeedButton* button) {
  if (TabStop() && CanTakeFocus(this) && button != FFocusedButton) {
    FFocusedButton->setShowFocusRect(false);
    FFocusedButton = button;
    if (hasFocus()) {
      FFocusedButton->setShowFocusRect(true);
      update();
    }
  }
}

void TCSpinButton::BtnClick(TTimerSpeedButton* button) {
  const ClickHandler handler = button == FUpButton ? FOnUpClick : FOnDownClick;
  if (!handler) return;
  try {
    handler(this);
  } catch (...) {
    button->CancelRepeat();
    widgets::ReportException(std::current_exception());
  }
}

void TCSpinButton::BtnMouseDown(TTimerSpeedButton* button, Qt::MouseButton mouseButton) {
  if (mouseButton != Qt::LeftButton) return;
  SetFocusBtn(button);
  if (FFocusControl && (FFocusControl->focusPolicy() & Qt::TabFocus) &&
      CanTakeFocus(FFocusControl) && !FFocusControl->hasFocus()) {
    FFocusControl->setFocus(Qt::OtherFocusReason);
  } else if (TabStop() && !hasFocus() && CanTakeFocus(this)) {
    setFocus(Qt::OtherFocusReason);
  }
}

void TCSpinButton::keyPressEvent(QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_Up:
      SetFocusBtn(FUpButton);
      FUpButton->Click();
      break;
    case Qt::Key_Down:
      SetFocusBtn(FDownButton);
      FDownButton->Click();
      break;
    case Qt::Key_Space:
      FFocusedButton->Click();
      break;
    default:
      QWidget::keyPressEvent(e);
      return;
  }
  e->accept();
}

void TCSpinButton::focusInEvent(QFocusEvent* e) {
  QWidget::focusInEvent(e);
  FFocusedButton->setShowFocusRect(true);
}

void TCSpinButton::focusOutEvent(QFocusEvent* e) {
  QWidget::focusOutEvent(e);
  FFocusedButton->setShowFocusRect(false);
}
