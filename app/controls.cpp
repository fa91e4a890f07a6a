#include "app/controls.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QStyledItemDelegate>

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

TEdit::TEdit(QWidget* parent, QRect geometry, int maxLength) : QLineEdit(parent) {
  setGeometry(geometry);
  if (maxLength > 0) setMaxLength(maxLength);
  // The input method is kept closed: typing gives plain ASCII.
  setInputMethodHints(Qt::ImhPreferLatin | Qt::ImhNoPredictiveText | Qt::ImhLatinOnly);
}

void TEdit::keyPressEvent(QKeyEvent* e) {
  const QString text = e->text();
  const bool character = text.size() == 1 && e->key() != Qt::Key_Delete;
  if (!character || !OnKeyPress) {
    QLineEdit::keyPressEvent(e);
    return;
  }
  QChar key = text.front();
  OnKeyPress(key);
  if (key.isNull()) {
    e->accept();
    return;
  }
  if (key == text.front()) {
    QLineEdit::keyPressEvent(e);
    return;
  }
  // The handler changed the character: type the new one instead.
  QKeyEvent changed(e->type(), e->key(), e->modifiers(), QString(key), e->isAutoRepeat());
  QLineEdit::keyPressEvent(&changed);
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
    : QAbstractListModel(parent), list_(list) {
  list_.SetObserver(this);
}

DeviceListModel::~DeviceListModel() { list_.SetObserver(nullptr); }

int DeviceListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : list_.Count();
}

QVariant DeviceListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= list_.Count()) return {};
  if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
    return QString::fromLatin1(list_.Text(index.row()));
  return {};
}

void DeviceListModel::aboutToAppend(int index) {
  beginInsertRows(QModelIndex(), index, index);
  inserting_ = true;
}

void DeviceListModel::appended(int) {
  // On a failed append the list is unchanged; Qt has no way to take back a
  // begun insertion, so the row count simply reads the list as it is.
  if (inserting_) endInsertRows();
  inserting_ = false;
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
  setGeometry(geometry);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setUniformItemSizes(true);  // item height 15: no per-line size queries
  setTextElideMode(Qt::ElideNone);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

int TListBox::ItemIndex() const {
  const QModelIndex current = selectionModel()->currentIndex();
  if (!current.isValid() || !selectionModel()->isSelected(current)) return -1;
  return current.row();
}

void TListBox::setItemIndex(int index) {
  if (index < 0 || index >= Count()) {
    selectionModel()->clearSelection();
    selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::Clear);
    return;
  }
  selectionModel()->setCurrentIndex(model_.index(index), QItemSelectionModel::ClearAndSelect);
}

int TListBox::Count() const { return model_.rowCount(); }

QString TListBox::Item(int index) const { return model_.data(model_.index(index), Qt::DisplayRole).toString(); }

void TListBox::mouseReleaseEvent(QMouseEvent* e) {
  QListView::mouseReleaseEvent(e);
  if (e->button() == Qt::LeftButton && indexAt(e->position().toPoint()).isValid()) emit click();
}

void TListBox::keyPressEvent(QKeyEvent* e) {
  const int before = ItemIndex();
  QListView::keyPressEvent(e);
  if (ItemIndex() != before) emit click();
}

}  // namespace app
