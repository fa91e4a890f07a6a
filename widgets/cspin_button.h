// The spin edit's arrow pair.
#pragma once

#include <QPixmap>
#include <QWidget>

#include <functional>

#include "widgets/timer_speed_button.h"

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
