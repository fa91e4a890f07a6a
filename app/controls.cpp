#include "app/controls.h"

#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QStyledItemDelegate>

#include <algorithm>

#include "app/input_method.h"
#include "device/fields.h"

namespace app {

TLabel::TLabel(QWidget* parent, const QString& caption, QRect geometry, bool rightJustify)
    : QLabel(parent), rightJustify_(rightJustify) {
  setTextFormat(Qt::PlainText);
  setTextInteractionFlags(Qt::NoTextInteraction);
  setAlignment((rightJustify ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
  setGeometry(geometry);
  setText(QString());
  setCaption(caption);
}

void TLabel::setCaption(const QString& caption) {
  const int right = x() + width();
  setText(caption);
  // Auto-size: the width follows the text; a right-justified label keeps
  // its right edge where it was.
  int newWidth = fontMetrics().horizontalAdvance(caption);
  if (blankWidth_ > 0)
    newWidth += static_cast<int>(caption.count(u' ')) *
                (blankWidth_ - fontMetrics().horizontalAdvance(QLatin1Char(' ')));
  if (rightJustify_)
    setGeometry(right - newWidth, y(), newWidth, height());
  else
    resize(newWidth, height());
}

void TLabel::setBlankWidth(int pixels) {
  blankWidth_ = pixels;
  setCaption(text());
}

void TLabel::paintEvent(QPaintEvent* e) {
  if (blankWidth_ <= 0) {
    QLabel::paintEvent(e);
    return;
  }
  QPainter p(this);
  p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  const QFontMetrics fm = fontMetrics();
  int x = 0;
  for (QChar c : text()) {
    if (c == u' ') {
      x += blankWidth_;
      continue;
    }
    p.drawText(x, fm.ascent(), QString(c));
    x += fm.horizontalAdvance(c);
  }
}

namespace {
int gInputMethodSwitchOffs = 0;
}  // namespace

TEdit::TEdit(QWidget* parent, QRect geometry, int maxLength) : QLineEdit(parent) {
  setGeometry(geometry);
  if (maxLength > 0) setMaxLength(maxLength);
  // Plain ASCII: input methods that read hints start in direct Latin input.
  setInputMethodHints(Qt::ImhPreferLatin | Qt::ImhNoPredictiveText | Qt::ImhLatinOnly);
}

int TEdit::InputMethodSwitchOffs() { return gInputMethodSwitchOffs; }

QString TEdit::Filtered(const QString& typed) {
  QString kept;
  for (QChar c : typed) {
    OnKeyPress(c);
    if (!c.isNull()) kept += c;
  }
  return kept;
}

void TEdit::keyPressEvent(QKeyEvent* e) {
  const QString text = e->text();
  if (text.isEmpty() || e->key() == Qt::Key_Delete || !OnKeyPress) {
    QLineEdit::keyPressEvent(e);
    return;
  }
  const QString kept = Filtered(text);
  if (kept == text) {
    QLineEdit::keyPressEvent(e);
    return;
  }
  if (kept.isEmpty()) {
    e->accept();
    return;
  }
  // The handler changed the characters: type the new ones instead.
  QKeyEvent changed(e->type(), e->key(), e->modifiers(), kept, e->isAutoRepeat());
  QLineEdit::keyPressEvent(&changed);
}

void TEdit::inputMethodEvent(QInputMethodEvent* e) {
  const QString commit = e->commitString();
  if (commit.isEmpty() || !OnKeyPress) {
    QLineEdit::inputMethodEvent(e);
    return;
  }
  // A commit is typed text too: each of its characters passes the filter.
  QInputMethodEvent filtered(e->preeditString(), e->attributes());
  filtered.setCommitString(Filtered(commit), e->replacementStart(), e->replacementLength());
  QLineEdit::inputMethodEvent(&filtered);
  e->setAccepted(filtered.isAccepted());
}

void TEdit::focusInEvent(QFocusEvent* e) {
  QLineEdit::focusInEvent(e);
  // Closing a popup (the context menu) gives the focus back without a new entry.
  if (e->reason() == Qt::PopupFocusReason) return;
  ++gInputMethodSwitchOffs;
  SwitchInputMethodOff(this);
}

void TEdit::focusOutEvent(QFocusEvent* e) {
  const int start = selectionStart();
  const int length = static_cast<int>(selectedText().size());
  QLineEdit::focusOutEvent(e);  // the line edit drops its selection here
  if (keepsSelection_ && start >= 0 && length > 0 && !hasSelectedText()) setSelection(start, length);
  // Leaving means the focus went to another control of the window, not that
  // the window itself lost the focus.
  if (e->reason() != Qt::ActiveWindowFocusReason && e->reason() != Qt::PopupFocusReason)
    emit exited();
}

TCheckBox::TCheckBox(QWidget* parent, const QString& caption, QRect geometry)
    : QCheckBox(caption, parent) {
  setGeometry(geometry);
}

void TCheckBox::paintEvent(QPaintEvent*) {
  QStylePainter p(this);
  QStyleOptionButton opt;
  initStyleOption(&opt);
  const int box = style()->pixelMetric(QStyle::PM_IndicatorWidth, &opt, this);
  const int boxHeight = style()->pixelMetric(QStyle::PM_IndicatorHeight, &opt, this);
  QStyleOptionButton indicator = opt;
  indicator.rect = QRect(width() - box - 1, (height() - boxHeight) / 2, box, boxHeight);
  p.drawPrimitive(QStyle::PE_IndicatorCheckBox, indicator);
  QStyleOptionButton label = opt;
  label.rect = QRect(0, 0, width() - box - 4, height());
  p.drawItemText(label.rect, Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(), text(),
                 QPalette::WindowText);
  if (hasFocus()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = QRect(0, 0, fontMetrics().horizontalAdvance(text()) + 2, height());
    p.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
  }
}

bool TCheckBox::hitButton(const QPoint& pos) const { return rect().contains(pos); }

TPanel::TPanel(QWidget* parent, QRect geometry) : QFrame(parent) {
  setFrameShape(QFrame::StyledPanel);
  setFrameShadow(QFrame::Raised);
  setGeometry(geometry);
}

TBevel::TBevel(QWidget* parent, QRect geometry, Shape shape) : QFrame(parent), shape_(shape) {
  setGeometry(geometry);
  setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TBevel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QColor dark = palette().color(QPalette::Dark);
  const QColor light = palette().color(QPalette::Light);
  if (shape_ == Shape::TopLine) {
    p.setPen(dark);
    p.drawLine(0, 0, width() - 1, 0);
    p.setPen(light);
    p.drawLine(0, 1, width() - 1, 1);
  } else {
    p.setPen(dark);
    p.drawRect(0, 0, width() - 2, height() - 2);
    p.setPen(light);
    p.drawRect(1, 1, width() - 2, height() - 2);
  }
}

TButton::TButton(QWidget* parent, const QString& caption, QRect geometry)
    : QPushButton(caption, parent) {
  setGeometry(geometry);
  setAutoDefault(false);
}

DeviceListModel::DeviceListModel(engine::DeviceList& list, QObject* parent)
    : QAbstractListModel(parent), list_(list), rows_(list.Count()) {
  list_.SetObserver(this);
}

DeviceListModel::~DeviceListModel() { list_.SetObserver(nullptr); }

int DeviceListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

QVariant DeviceListModel::data(const QModelIndex& index, int role) const {
  // Both bounds: a view told of a line whose append was then taken back
  // (the notification itself failed) reads nothing past the list.
  if (!index.isValid() || index.row() >= std::min(rows_, list_.Count())) return {};
  if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
    return QString::fromLatin1(list_.Text(index.row()));
  return {};
}

void DeviceListModel::appended(int index) {
  if (index < rows_) return;
  beginInsertRows(QModelIndex(), rows_, index);
  rows_ = index + 1;
  endInsertRows();
}

void ListSelection::select(const QItemSelection& selection, QItemSelectionModel::SelectionFlags command) {
  if (!byProgram && hasSelection() && (command & (Clear | Deselect | Toggle))) {
    // A user's command that takes lines away may only replace the selected
    // line by another one: a plain clear, a deselect or a toggle (Ctrl+click,
    // Ctrl+Space) on the selected line is refused.
    const bool selectsALine =
        (command & Select) && !(command & (Deselect | Toggle)) &&
        std::any_of(selection.cbegin(), selection.cend(),
                    [](const QItemSelectionRange& range) { return range.isValid() && !range.isEmpty(); });
    if (!selectsALine) return;
  }
  QItemSelectionModel::select(selection, command);
}

namespace {

// Every line is 15 pixels high.
class FixedHeightDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(15);
    return size;
  }
};

}  // namespace

TListBox::TListBox(QWidget* parent, QRect geometry, engine::DeviceList& list)
    : QListView(parent), model_(list) {
  setItemDelegate(new FixedHeightDelegate(this));
  setModel(&model_);
  QItemSelectionModel* standard = selectionModel();
  selection_ = new ListSelection(&model_, this);
  setSelectionModel(selection_);
  delete standard;
  connect(selection_, &QItemSelectionModel::selectionChanged, this, &TListBox::SelectionChanged);
  setGeometry(geometry);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setUniformItemSizes(true);  // item height 15: no per-line size queries
  setTextElideMode(Qt::ElideNone);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

// The selected line, not the current one: the view moves its current line on
// its own (a right-button press, Ctrl with an arrow key) without selecting it.
// Kept from the selection model's own change signal, so asking (once per
// announcement of a listed device) costs no list of indexes.
int TListBox::ItemIndex() const { return selected_; }

void TListBox::setItemIndex(int index) {
  selection_->byProgram = true;
  if (index < 0 || index >= Count()) {
    selection_->clearSelection();
    selection_->clearCurrentIndex();
  } else {
    selection_->setCurrentIndex(model_.index(index), QItemSelectionModel::ClearAndSelect);
  }
  selection_->byProgram = false;
}

int TListBox::Count() const { return model_.rowCount(); }

QString TListBox::Item(int index) const { return model_.data(model_.index(index), Qt::DisplayRole).toString(); }

// Every change the user makes, whether by a press, a drag, a release, a key or
// a press whose release never comes back (a message box took it), passes
// through here exactly once.
void TListBox::SelectionChanged() {
  const QModelIndexList selected = selection_->selectedIndexes();
  selected_ = selected.isEmpty() ? -1 : selected.front().row();
  if (selection_->byProgram || selected_ < 0) return;
  changedSincePress_ = true;
  emit click();
}

// Only the left button selects a line: the view would select with any
// button, and a right or middle press that refilled the panel would throw
// away the user's unsaved edits.
void TListBox::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) {
    e->accept();
    return;
  }
  changedSincePress_ = false;
  QListView::mousePressEvent(e);
}

void TListBox::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) {
    e->accept();
    return;
  }
  QListView::mouseReleaseEvent(e);
  // A click on the line that is already selected shows it afresh.
  const QModelIndex at = indexAt(e->position().toPoint());
  if (!changedSincePress_ && at.isValid() && at.row() == ItemIndex())
    emit click();
  changedSincePress_ = false;
}

}  // namespace app
