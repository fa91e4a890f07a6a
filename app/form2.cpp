#include "app/form2.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>

#include <algorithm>

#include "app/errors.h"
#include "app/form1.h"

namespace app {

TForm2::TForm2(QWidget* owner) : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint) {
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(11);  // 8 points at 96 dpi
  setFont(font);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Button);

  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setGeometry(8, 8, 241, 17);
  ProgressBar1->setRange(0, 30);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  // Left to itself the bar repaints only when its value has moved by more
  // than a chunk of the style (9 of its 241 pixels in Qt's own styles, 49
  // under Wine's Windows theme: up to seven ticks); every tick must show.
  connect(ProgressBar1, &QProgressBar::valueChanged, ProgressBar1, qOverload<>(&QWidget::update));

  Label1 = new TLabel(this, QStringLiteral("Label1"), QRect(8, 8, 35, 13), false);

  Bevel1 = new TBevel(this, QRect(0, 0, 254, 66), TBevel::Shape::Box);

  Button1 = new TButton(this, QStringLiteral("确认"), QRect(80, 33, 75, 25));
  connect(Button1, &QPushButton::clicked, this, [this] { Guard([&] { Button1Click(Button1); }); });

  Timer1 = new QTimer(this);
  Timer1->setInterval(1000);
  // A coarse timer may fire up to 5 % early, which would cut the 30-second
  // wait for the device's confirmation short by up to a second and a half.
  Timer1->setTimerType(Qt::PreciseTimer);
  connect(Timer1, &QTimer::timeout, this, [this] { Guard([&] { Timer1Timer(Timer1); }); });

  // Auto-sized to the contents: the bevel covers the whole client area.
  setFixedSize(254, 66);
}

void TForm2::SetPosition(int position) {
  ProgressBar1->setValue(std::clamp(position, ProgressBar1->minimum(), ProgressBar1->maximum()));
}

void TForm2::FormShow(QObject*) {
  if (Form1) Form1->setEnabled(false);
}

void TForm2::FormClose(QObject*) {
  if (Form1) Form1->setEnabled(true);
  Timer1->stop();
}

void TForm2::Button1Click(QObject*) { close(); }

void TForm2::Timer1Timer(QObject*) {
  SetPosition(Position() + 1);
  if (Position() < ProgressBar1->maximum()) return;
  ProgressBar1->setVisible(false);
  Label1->setVisible(true);
  Button1->setVisible(true);
  Label1->setCaption(QStringLiteral("命令执行超时"));
  Timer1->stop();
  if (Form1) Form1->JournalOutcome(journal::kTimedOut);
}

void TForm2::showEvent(QShowEvent* e) {
  if (!e->spontaneous()) {
    // Centred on the main window at the first show; later shows keep the place.
    if (!placed_ && Form1) {
      const QRect main = Form1->frameGeometry();
      int left = main.left() + (main.width() - width()) / 2;
      int top = main.top() + (main.height() - height()) / 2;
      const QScreen* screen = Form1->screen();
      const QPoint origin = screen ? screen->virtualGeometry().topLeft() : QPoint(0, 0);
      left = std::max(left, origin.x());
      top = std::max(top, origin.y());
      move(left, top);
      placed_ = true;
    }
    if (Form1 && windowHandle() && Form1->windowHandle())
      windowHandle()->setTransientParent(Form1->windowHandle());
    Guard([&] { FormShow(this); });
  }
  QWidget::showEvent(e);
  // The dialog takes the keyboard, so Esc reaches it once its button shows.
  if (!e->spontaneous()) activateWindow();
}

void TForm2::closeEvent(QCloseEvent* e) {
  Guard([&] { FormClose(this); });
  e->accept();  // a secondary window hides when closed
}

void TForm2::keyPressEvent(QKeyEvent* e) {
  // Esc presses the cancel button, but only while it can be reached.
  if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
    if (Button1->isVisible() && Button1->isEnabled()) Button1->click();
    e->accept();
    return;
  }
  QWidget::keyPressEvent(e);
}

}  // namespace app
