// The spin edit: a numeric line edit with an arrow pair inside its right edge.
#pragma once

#include <QLineEdit>

#include "widgets/cspin_button.h"
#include "widgets/feedback.h"

class QMenu;

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
