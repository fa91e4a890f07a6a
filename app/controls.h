// The standard controls of the windows, on Qt Widgets, with the behaviour the
// windows rely on: plain-text labels that size themselves to their text,
// edits that report leaving and typed characters, a list box over the device
// list whose click handler runs only for the user's selections.
#pragma once

#include <QAbstractListModel>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>

#include <functional>

#include "engine/device_list.h"

namespace app {

// A label: always plain text. An auto-sized label takes the width of its
// text; a right-justified one keeps its right edge when the text changes.
class TLabel : public QLabel {
  Q_OBJECT
 public:
  TLabel(QWidget* parent, const QString& caption, QRect geometry, bool rightJustify);
  void setCaption(const QString& caption);
  QString caption() const { return text(); }
  // Draws every blank this many pixels wide (0: as the font has it), so a
  // text laid out with blanks keeps its design positions in any face.
  void setBlankWidth(int pixels);

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  bool rightJustify_;
  int blankWidth_ = 0;
};

// A single-line edit with its input method closed: every edit of these
// windows takes plain ASCII, so the input method is switched off whenever the
// edit receives the focus (the user may switch it on again). OnExit runs when
// the focus moves to another control of the window; OnKeyPress sees every
// typed character first, input-method commits included, and may change it or
// discard it (by setting it to 0). Pasted text does not pass through it.
class TEdit : public QLineEdit {
  Q_OBJECT
 public:
  TEdit(QWidget* parent, QRect geometry, int maxLength);
  std::function<void(QChar& key)> OnKeyPress;
  // Keeps (and shows) the selection when the focus leaves the edit.
  void setKeepsSelection(bool keep) { keepsSelection_ = keep; }
  // How often an edit has switched the input method off (tests, diagnostics).
  static int InputMethodSwitchOffs();

 signals:
  void exited();

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void inputMethodEvent(QInputMethodEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  // The characters of a typed text that OnKeyPress lets through, as it leaves them.
  QString Filtered(const QString& typed);

  bool keepsSelection_ = false;
};

// The check box, with its caption on the left and the box on the right.
class TCheckBox : public QCheckBox {
  Q_OBJECT
 public:
  TCheckBox(QWidget* parent, const QString& caption, QRect geometry);

 protected:
  // The caption starts at the left edge, the box sits at the right edge, and
  // a click anywhere on the control toggles it.
  void paintEvent(QPaintEvent* e) override;
  bool hitButton(const QPoint& pos) const override;
};

// A panel without caption.
class TPanel : public QFrame {
  Q_OBJECT
 public:
  TPanel(QWidget* parent, QRect geometry);
};

// A bevel drawn as one horizontal line along its top edge, or as a frame.
class TBevel : public QFrame {
  Q_OBJECT
 public:
  enum class Shape { TopLine, Box };
  TBevel(QWidget* parent, QRect geometry, Shape shape);

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  Shape shape_;
};

class TButton : public QPushButton {
  Q_OBJECT
 public:
  TButton(QWidget* parent, const QString& caption, QRect geometry);
};

// The lines of the device list as a model: the identity texts, read from the
// list on demand, so a line costs no item object of its own. The model's row
// count follows the lines the list has announced, so a view never sees a line
// it has not been told about.
class DeviceListModel : public QAbstractListModel, public engine::DeviceList::Observer {
  Q_OBJECT
 public:
  explicit DeviceListModel(engine::DeviceList& list, QObject* parent = nullptr);
  ~DeviceListModel() override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  void appended(int index) override;

 private:
  engine::DeviceList& list_;
  int rows_ = 0;
};

// The selection of a single-selection list box: the user's gestures move it
// from line to line but never take it away (as on the users' platform, once a
// line is selected one line stays selected). Only the program clears it.
class ListSelection : public QItemSelectionModel {
  Q_OBJECT
 public:
  using QItemSelectionModel::QItemSelectionModel;
  using QItemSelectionModel::select;
  void select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) override;
  // Set while the program itself changes the selection.
  bool byProgram = false;
};

// The device list box. ItemIndex is the selected line (-1: none); setting it
// runs no handler. OnClick (the click() signal) runs once for every change of
// the selected line by the user, whatever gesture of the left mouse button or
// key made it, and when the user clicks the line that is already selected.
// The other mouse buttons select nothing.
class TListBox : public QListView {
  Q_OBJECT
 public:
  TListBox(QWidget* parent, QRect geometry, engine::DeviceList& list);
  int ItemIndex() const;
  void setItemIndex(int index);
  int Count() const;
  QString Item(int index) const;

 signals:
  void click();

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  void SelectionChanged();

  DeviceListModel model_;
  ListSelection* selection_ = nullptr;
  int selected_ = -1;  // the selected line, as the selection model last told
  bool changedSincePress_ = false;
};

}  // namespace app
