#include "widgets/cspin_edit.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QStyle>
#include <QStyleOption>

#include <algorithm>
#include <climits>
#include <optional>

namespace {

// Run-time library string-to-integer rule: an optional sign followed by one
// or more decimal digits, the whole text, within the signed 32-bit range.
std::optional<int> StrToInt(const QString& s) {
  const qsizetype n = s.size();
  qsizetype i = 0;
  bool negative = false;
  if (i < n && (s[i] == u'+' || s[i] == u'-')) {
    negative = s[i] == u'-';
    ++i;
  }
  if (i == n) return std::nullopt;
  long long v = 0;
  for (; i < n; ++i) {
    const char16_t c = s[i].unicode();
    if (c < u'0' || c > u'9') return std::nullopt;
    v = v * 10 + (c - u'0');
    if (v > -static_cast<long long>(INT_MIN)) return std::nullopt;
  }
  if (negative) v = -v;
  if (v > INT_MAX) return std::nullopt;
  return static_cast<int>(v);
}

int SaturateToInt(long long v) {
  return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

}  // namespace

TCSpinEdit::TCSpinEdit(QWidget* parent) : QLineEdit(parent) {
  FButton = new TCSpinButton(this);
  FButton->resize(15, 17);
  FButton->setCursor(Qt::ArrowCursor);
  FButton->setFocusControl(this);
  FButton->setOnUpClick([this](QObject* sender) { UpClick(sender); });
  FButton->setOnDownClick([this](QObject* sender) { DownClick(sender); });
  for (QObject* o : {static_cast<QObject*>(FButton), static_cast<QObject*>(FButton->UpButton()),
                     static_cast<QObject*>(FButton->DownButton())})
    o->installEventFilter(this);
  FButton->show();
  setText(QStringLiteral("0"));
  SetEditRect();
}

TCSpinEdit::~TCSpinEdit() {
  TCSpinButton* button = FButton;
  FButton = nullptr;  // no more placing of the pair from here on
  for (QObject* o : {static_cast<QObject*>(button), static_cast<QObject*>(button->UpButton()),
                     static_cast<QObject*>(button->DownButton())})
    o->removeEventFilter(this);
}

void TCSpinEdit::setEditorEnabled(bool on) {
  FEditorEnabled = on;
  setAcceptDrops(on);  // a drop is a paste
}

int TCSpinEdit::GetValue() {
  if (const std::optional<int> v = StrToInt(text())) return *v;
  setText(QString::number(FMinValue));  // differs from the unreadable text: fires textChanged
  return FMinValue;
}

void TCSpinEdit::SetValue(int v) {
  const QString t = QString::number(CheckValue(v));
  if (t != text()) setText(t);
}

int TCSpinEdit::CheckValue(int v) const {
  if (FMaxValue == FMinValue) return v;
  if (v < FMinValue) return FMinValue;
  if (v > FMaxValue) return FMaxValue;
  return v;
}

bool TCSpinEdit::IsValidChar(QChar c) const {
  const char16_t u = c.unicode();
  const QString point = locale().decimalPoint();
  bool ok = (point.size() == 1 && c == point[0]) || u == u'+' || u == u'-' ||
            (u >= u'0' && u <= u'9') || (u < 32 && u != 13);
  if (!FEditorEnabled && ok && (u >= 32 || u == 8)) ok = false;
  return ok;
}

void TCSpinEdit::Step(long long delta) {
  if (isReadOnly()) {
    widgets::Beep();
    return;
  }
  // Saturating, so stepping at the ends of the 32-bit range cannot wrap.
  SetValue(SaturateToInt(static_cast<long long>(GetValue()) + delta));
}

void TCSpinEdit::UpClick(QObject*) { Step(FIncrement); }
void TCSpinEdit::DownClick(QObject*) { Step(-static_cast<long long>(FIncrement)); }

int TCSpinEdit::MinHeightFor(int fontHeight, int systemFontHeight, int borderHeight) {
  const int i = std::min(systemFontHeight, fontHeight);
  return fontHeight + i / 4 + 4 * borderHeight + 2;
}

int TCSpinEdit::GetMinHeight() const {
  // A font given in pixels counts by that height, the character height the
  // layout was designed for: a stand-in face with taller metrics must not
  // make the field grow.
  const auto cellHeight = [](const QFont& font) {
    return font.pixelSize() > 0 ? font.pixelSize() : QFontMetrics(font).height();
  };
  const int systemHeight = cellHeight(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
  return MinHeightFor(cellHeight(font()), systemHeight, 1);
}

// Keeps the text left of the arrow pair: the text area ends where the pair
// begins (the line edit adds its own small inner margin on top).
void TCSpinEdit::SetEditRect() {
  if (!FButton) return;
  QStyleOptionFrame opt;
  initStyleOption(&opt);
  const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &opt, this);
  const int pairLeft = width() - FButton->width() - 5;
  const int right = std::max(0, contents.right() + 1 - pairLeft);
  const QMargins m = textMargins();
  if (m.right() != right) setTextMargins(m.left(), m.top(), right, m.bottom());
}

void TCSpinEdit::resizeEvent(QResizeEvent* e) {
  QLineEdit::resizeEvent(e);
  const int minHeight = GetMinHeight();
  if (height() < minHeight) {
    resize(width(), minHeight);  // comes back here with the new size
    return;
  }
  if (FButton) {
    FButton->setGeometry(width() - FButton->width() - 5, 0, FButton->width(), height() - 5);
    SetEditRect();
  }
}

void TCSpinEdit::keyPressEvent(QKeyEvent* e) {
  const int key = e->key();
  if (key == Qt::Key_Up || key == Qt::Key_Down) {
    QPointer<TCSpinEdit> self(this);
    if (key == Qt::Key_Up)
      UpClick(this);
    else
      DownClick(this);
    if (self) QLineEdit::keyPressEvent(e);
    return;
  }
  if (e->matches(QKeySequence::Cut) || e->matches(QKeySequence::Paste)) {
    if (EditingBlocked()) {
      e->accept();
      return;
    }
    QLineEdit::keyPressEvent(e);
    return;
  }
  if (!FEditorEnabled &&
      (e->matches(QKeySequence::Delete) || e->matches(QKeySequence::DeleteEndOfWord) ||
       e->matches(QKeySequence::DeleteStartOfWord) || e->matches(QKeySequence::DeleteEndOfLine) ||
       e->matches(QKeySequence::DeleteCompleteLine) || e->matches(QKeySequence::Undo) ||
       e->matches(QKeySequence::Redo))) {
    e->accept();  // only the arrows change the text
    return;
  }

  // The characters this key types, as the character filter sees them.
  QString chars;
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      chars = QStringLiteral("\r");
      break;
    case Qt::Key_Backspace:
      chars = QStringLiteral("\b");
      break;
    case Qt::Key_Delete:
      break;  // an editing key, not a character
    default: {
      const Qt::KeyboardModifiers mods = e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier |
                                                           Qt::AltModifier | Qt::MetaModifier);
      // Ctrl and Ctrl+Shift combinations are shortcuts and never type text.
      if (mods != Qt::ControlModifier && mods != (Qt::ControlModifier | Qt::ShiftModifier))
        chars = e->text();
      chars.remove(QChar(0x7f));
    }
  }
  for (const QChar c : chars) {
    if (!IsValidChar(c)) {
      widgets::Beep();
      e->accept();
      return;
    }
  }
  QLineEdit::keyPressEvent(e);
}

void TCSpinEdit::inputMethodEvent(QInputMethodEvent* e) {
  const QString commit = e->commitString();
  QString kept;
  for (const QChar c : commit) {
    if (IsValidChar(c))
      kept += c;
    else
      widgets::Beep();
  }
  if (kept == commit) {
    QLineEdit::inputMethodEvent(e);
    return;
  }
  QInputMethodEvent filtered(e->preeditString(), e->attributes());
  filtered.setCommitString(kept, e->replacementStart(), e->replacementLength());
  QLineEdit::inputMethodEvent(&filtered);
  e->setAccepted(filtered.isAccepted());
}

void TCSpinEdit::focusInEvent(QFocusEvent* e) {
  const Qt::FocusReason reason = e->reason();
  const bool tabLike = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                       reason == Qt::ShortcutFocusReason;
  if (tabLike && !FAutoSelect) {
    // The line edit selects everything on Tab by itself; AutoSelect decides here.
    QFocusEvent plain(QEvent::FocusIn, Qt::OtherFocusReason);
    QLineEdit::focusInEvent(&plain);
  } else {
    QLineEdit::focusInEvent(e);
  }
  // Returning to the window or from a popup is not entering the field.
  if (!FAutoSelect || reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
    return;
  if (reason == Qt::MouseFocusReason)
    FMouseFocusPending = true;  // decided when the press itself arrives
  else
    selectAll();
}

void TCSpinEdit::focusOutEvent(QFocusEvent* e) {
  QLineEdit::focusOutEvent(e);
  FMouseFocusPending = false;
  // A popup opening or the window losing activation is not leaving the field.
  if (e->reason() == Qt::PopupFocusReason || e->reason() == Qt::ActiveWindowFocusReason) return;
  const int v = GetValue();
  if (CheckValue(v) != v) SetValue(v);
}

void TCSpinEdit::mousePressEvent(QMouseEvent* e) {
  const bool pending = FMouseFocusPending;
  FMouseFocusPending = false;
  QLineEdit::mousePressEvent(e);
  if (pending && FAutoSelect && e->button() != Qt::LeftButton) selectAll();
}

void TCSpinEdit::mouseReleaseEvent(QMouseEvent* e) {
  // Middle-button paste of the selection clipboard.
  if (e->button() == Qt::MiddleButton && EditingBlocked()) {
    e->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(e);
}

bool TCSpinEdit::eventFilter(QObject* watched, QEvent* e) {
  // A press on the arrows that brought the focus here is not a press on the
  // edit itself, so the text gets selected.
  if (e->type() == QEvent::MouseButtonPress && FMouseFocusPending && FButton &&
      (watched == FButton || watched == FButton->UpButton() || watched == FButton->DownButton())) {
    FMouseFocusPending = false;
    if (FAutoSelect) selectAll();
  }
  return QLineEdit::eventFilter(watched, e);
}

// The standard menu's actions call the line edit's slots directly, so the
// ones that are not allowed are disabled. They are recognised by their
// texts, which the line edit builds from these same translated strings.
QMenu* TCSpinEdit::CreateContextMenu() {
  QMenu* menu = createStandardContextMenu();
  if (!EditingBlocked()) return menu;
  const auto label = [](const char* source) { return QCoreApplication::translate("QLineEdit", source); };
  const QString cut = label("Cu&t"), paste = label("&Paste");
  const QString others[] = {label("Delete"), label("&Undo"), label("&Redo")};
  for (QAction* a : menu->actions()) {
    const QString text = a->text().section(u'\t', 0, 0);
    const bool cutOrPaste = text == cut || text == paste;
    const bool otherEdit = std::find(std::begin(others), std::end(others), text) != std::end(others);
    if (cutOrPaste || (!FEditorEnabled && otherEdit)) a->setEnabled(false);
  }
  return menu;
}

void TCSpinEdit::contextMenuEvent(QContextMenuEvent* e) {
  QMenu* menu = CreateContextMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(e->globalPos());
}

