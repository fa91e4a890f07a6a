// The main window under the user's hands: every gesture on the device list
// keeps the selected line and the panel in step, the selection cannot be
// emptied, a close request during a write is refused, the input method is
// switched off on entering an edit, and the hexadecimal filter sees
// input-method commits while the hardware-address edits refuse drops.
#include "app_fixture.h"

#include <QClipboard>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QWindow>

using namespace apptest;

namespace {

constexpr unsigned long long kDevC = 0x0012AB34CD5603ull;

}  // namespace

class SelectionTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Announce(kDevA, Config(1));
    Announce(kDevB, Config(2));
    Announce(kDevC, Config(3));
    ASSERT_EQ(f1->ListBox1->Count(), 3);
    ASSERT_EQ(f1->lblIdent->text(), "0012AB34CD5601");
  }
  QWidget* Lines() { return f1->ListBox1->viewport(); }
  QPoint Line(int i) { return f1->ListBox1->visualRect(f1->ListBox1->model()->index(i, 0)).center(); }
  static QPoint BelowTheLines() { return {40, 300}; }
  // The panel shows the selected line, and one line is selected.
  void ExpectPanelShowsSelection(const char* gesture) {
    const int i = f1->ListBox1->ItemIndex();
    ASSERT_GE(i, 0) << gesture;
    EXPECT_TRUE(f1->Panel1->isEnabled()) << gesture;
    EXPECT_EQ(f1->lblIdent->text(), f1->ListBox1->Item(i)) << gesture;
    EXPECT_EQ(f1->edtDeviceName->text().toStdString(), EntryName(i)) << gesture;
  }
};

TEST_F(SelectionTest, EveryChangeOfTheSelectionFillsThePanelOnce) {
  QSignalSpy fills(f1->ListBox1, &app::TListBox::click);
  struct Gesture {
    const char* name;
    std::function<void()> perform;
    int line;
  };
  const std::vector<Gesture> gestures = {
      {"press on a line, release below the lines",
       [&] {
         QTest::mousePress(Lines(), Qt::LeftButton, {}, Line(1));
         QTest::mouseRelease(Lines(), Qt::LeftButton, {}, BelowTheLines());
       },
       1},
      {"left click", [&] { QTest::mouseClick(Lines(), Qt::LeftButton, {}, Line(2)); }, 2},
      {"Up key", [&] { QTest::keyClick(f1->ListBox1, Qt::Key_Up); }, 1},
      {"Home key", [&] { QTest::keyClick(f1->ListBox1, Qt::Key_Home); }, 0},
      {"End key", [&] { QTest::keyClick(f1->ListBox1, Qt::Key_End); }, 2},
  };
  for (const Gesture& g : gestures) {
    fills.clear();
    g.perform();
    EXPECT_EQ(f1->ListBox1->ItemIndex(), g.line) << g.name;
    EXPECT_EQ(fills.count(), 1) << g.name;
    ExpectPanelShowsSelection(g.name);
  }

  // Only the left button selects: the other buttons neither move the
  // selection nor refill the panel, so the unsaved edits stay.
  TypeInto(f1->edtDeviceName, "edited");
  fills.clear();
  const std::vector<std::pair<const char*, std::function<void()>>> others = {
      {"right click", [&] { QTest::mouseClick(Lines(), Qt::RightButton, {}, Line(0)); }},
      {"middle click", [&] { QTest::mouseClick(Lines(), Qt::MiddleButton, {}, Line(1)); }},
      {"right click on the selected line", [&] { QTest::mouseClick(Lines(), Qt::RightButton, {}, Line(2)); }},
      {"right double click", [&] { QTest::mouseDClick(Lines(), Qt::RightButton, {}, Line(0)); }},
      {"right press dragged over another line",
       [&] {
         QTest::mousePress(Lines(), Qt::RightButton, {}, Line(2));
         QMouseEvent move(QEvent::MouseMove, QPointF(Line(1)), Lines()->mapToGlobal(QPointF(Line(1))),
                          Qt::NoButton, Qt::RightButton, Qt::NoModifier);
         QApplication::sendEvent(Lines(), &move);
         QTest::mouseRelease(Lines(), Qt::RightButton, {}, Line(1));
       }},
  };
  for (const auto& [name, perform] : others) {
    perform();
    EXPECT_EQ(f1->ListBox1->ItemIndex(), 2) << name;
    EXPECT_EQ(f1->lblIdent->text(), f1->ListBox1->Item(2)) << name;
    EXPECT_EQ(f1->edtDeviceName->text(), "edited") << name;
  }
  EXPECT_EQ(fills.count(), 0);

  // A press whose release is taken by a message box: leaving an emptied name
  // shows the error while the press moves the focus, and the release never
  // reaches the list.
  TypeInto(f1->edtDeviceName, QString());
  fills.clear();
  const auto boxes = CatchBoxes([&] { QTest::mousePress(Lines(), Qt::LeftButton, {}, Line(1)); });
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, QString::fromUtf8("设备名称不能为空。."));
  EXPECT_EQ(f1->ListBox1->ItemIndex(), 1);
  EXPECT_EQ(fills.count(), 1);
  ExpectPanelShowsSelection("press taken by a message box");
  QTest::mouseRelease(Lines(), Qt::LeftButton, {}, BelowTheLines());
}

TEST_F(SelectionTest, NoGestureLeavesTheListWithoutASelection) {
  QTest::mouseClick(Lines(), Qt::LeftButton, {}, Line(1));
  f1->ListBox1->setFocus(Qt::MouseFocusReason);
  const std::vector<std::pair<const char*, std::function<void()>>> gestures = {
      {"Ctrl+click on the selected line",
       [&] { QTest::mouseClick(Lines(), Qt::LeftButton, Qt::ControlModifier, Line(1)); }},
      {"Ctrl+Space", [&] { QTest::keyClick(f1->ListBox1, Qt::Key_Space, Qt::ControlModifier); }},
      {"click below the lines", [&] { QTest::mouseClick(Lines(), Qt::LeftButton, {}, BelowTheLines()); }},
      {"Ctrl+click below the lines",
       [&] { QTest::mouseClick(Lines(), Qt::LeftButton, Qt::ControlModifier, BelowTheLines()); }},
      {"right click below the lines", [&] { QTest::mouseClick(Lines(), Qt::RightButton, {}, BelowTheLines()); }},
      {"Ctrl+Down, Ctrl+Space",
       [&] {
         QTest::keyClick(f1->ListBox1, Qt::Key_Down, Qt::ControlModifier);
         QTest::keyClick(f1->ListBox1, Qt::Key_Space, Qt::ControlModifier);
       }},
      {"Ctrl+Space again", [&] { QTest::keyClick(f1->ListBox1, Qt::Key_Space, Qt::ControlModifier); }},
  };
  for (const auto& [name, perform] : gestures) {
    perform();
    ExpectPanelShowsSelection(name);
  }
}

TEST_F(SelectionTest, CloseRequestDuringAWriteIsRefused) {
  TypeInto(f1->edtDeviceName, QString::fromUtf8("新名称"));
  ASSERT_TRUE(f1->Button1->isEnabled());
  QTest::mouseClick(f1->Button1, Qt::LeftButton);
  ASSERT_TRUE(f2->isVisible());
  ASSERT_FALSE(f1->isEnabled());

  // The request the window manager or the task bar sends.
  EXPECT_FALSE(f1->windowHandle()->close());
  EXPECT_TRUE(f1->isVisible());
  EXPECT_TRUE(f2->isVisible());
  EXPECT_TRUE(f2->Timer1->isActive());

  // The write goes on: the device confirming the new name ends it.
  device::NetConfig written = Config(1);
  device::DeviceNameFromText(written, "新名称");
  Announce(kDevA, written);
  EXPECT_EQ(f2->Label1->text(), QString::fromUtf8("命令执行成功"));
}

TEST_F(SelectionTest, EditsOfAddressesAndNameAskInputMethodsForLatinInput) {
  // What an input method framework reads from the edit it enters. Ending
  // a composition on entry is left to the platform's input context, which
  // the offscreen platform does not have: nothing of it can be observed here.
  const std::vector<app::TEdit*> closed = {f1->edtPAddr,       f1->edtSubNetMask, f1->edtGatePAddr,
                                           f1->edtDNS1PAddr,   f1->edtDNS2PAddr,  f1->edtHAddr1,
                                           f1->edtHAddr2,      f1->edtServerPAddr, f1->edtDeviceName};
  for (app::TEdit* edit : closed) {
    QTest::mouseClick(edit, Qt::LeftButton);
    ASSERT_TRUE(edit->hasFocus());
    const auto hints = static_cast<Qt::InputMethodHints>(edit->inputMethodQuery(Qt::ImHints).toInt());
    EXPECT_TRUE(hints & Qt::ImhLatinOnly) << edit->geometry().y();
  }
}

TEST_F(SelectionTest, HardwareAddressFilterSeesInputMethodCommitsDropsAreRefusedPasteIsNot) {
  const auto commit = [](QWidget* edit, const QString& text) {
    QInputMethodEvent e;
    e.setCommitString(text);
    QApplication::sendEvent(edit, &e);
  };
  const auto boxes = CatchBoxes([&] {
    TypeInto(f1->edtHAddr1, QString());
    commit(f1->edtHAddr1, QString::fromUtf8("g中"));
    EXPECT_EQ(f1->edtHAddr1->text(), "");
    commit(f1->edtHAddr1, "a9");
    EXPECT_EQ(f1->edtHAddr1->text(), "A9");
    TypeInto(f1->edtHAddr2, QString());
    TypeText(f1->edtHAddr2, QString::fromUtf8("。"));
    QKeyEvent several(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8("x-c中"));
    QApplication::sendEvent(f1->edtHAddr2, &several);
    EXPECT_EQ(f1->edtHAddr2->text(), "C");
  });
  EXPECT_TRUE(boxes.empty()) << "every later change check reads hexadecimal digits";
  EXPECT_TRUE(f1->Button1->isEnabled());

  // A text dragged from another window and dropped on the edit is refused.
  TypeInto(f1->edtHAddr2, QString());
  QMimeData dragged;
  dragged.setText("zq");
  const QPoint at = f1->edtHAddr2->mapTo(f1, QPoint(8, 8));
  const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
  QDragEnterEvent enter(at, actions, &dragged, Qt::LeftButton, Qt::NoModifier);
  QDragMoveEvent move(at, actions, &dragged, Qt::LeftButton, Qt::NoModifier);
  QDropEvent drop(QPointF(at), actions, &dragged, Qt::LeftButton, Qt::NoModifier);
  // Through the window, which hands each to the widget under the pointer
  // that takes drops, as it does with the system's drag events.
  EXPECT_TRUE(CatchBoxes([&] {
                for (QEvent* e : std::initializer_list<QEvent*>{&enter, &move, &drop})
                  QApplication::sendEvent(f1->windowHandle(), e);
              }).empty());
  EXPECT_FALSE(drop.isAccepted());
  EXPECT_EQ(f1->edtHAddr2->text(), "");

  // Pasting through the context menu is not typing: it stays unfiltered.
  QApplication::clipboard()->setText("zz");
  CatchBoxes([&] {
    f1->edtHAddr2->clear();
    f1->edtHAddr2->paste();
  });
  EXPECT_EQ(f1->edtHAddr2->text(), "zz");
}
