// The progress dialog: a small borderless window over the main window while
// a configuration write waits for its confirmation. It counts 30 one-second
// ticks, then reports the time-out; the write reports success through it.
#pragma once

#include <QProgressBar>
#include <QTimer>
#include <QWidget>

#include "app/controls.h"

namespace app {

class TForm2 : public QWidget {
  Q_OBJECT
 public:
  explicit TForm2(QWidget* owner = nullptr);

  QProgressBar* ProgressBar1 = nullptr;
  TLabel* Label1 = nullptr;
  TBevel* Bevel1 = nullptr;
  TButton* Button1 = nullptr;
  QTimer* Timer1 = nullptr;

  void FormShow(QObject* Sender);
  void FormClose(QObject* Sender);
  void Button1Click(QObject* Sender);
  void Timer1Timer(QObject* Sender);

  // ProgressBar1.Position, kept within 0..Max as the bar does.
  int Position() const { return ProgressBar1->value(); }
  void SetPosition(int position);

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  bool placed_ = false;
};

}  // namespace app
