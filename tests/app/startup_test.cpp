// The main window right after start, its layout, and the exception display.
#include "app_fixture.h"

#include <QCheckBox>
#include <QElapsedTimer>

using namespace apptest;

TEST_F(AppTest, StartStateIsAnEmptyInertPanel) {
  for (QLineEdit* e : {static_cast<QLineEdit*>(f1->edtPAddr), static_cast<QLineEdit*>(f1->edtSubNetMask),
                       static_cast<QLineEdit*>(f1->edtGatePAddr), static_cast<QLineEdit*>(f1->edtDNS1PAddr),
                       static_cast<QLineEdit*>(f1->edtDNS2PAddr), static_cast<QLineEdit*>(f1->edtServerPAddr)})
    EXPECT_TRUE(e->text().isEmpty());
  EXPECT_TRUE(f1->lblIdent->text().isEmpty());
  EXPECT_EQ(f1->Label15->text(), "06");
  EXPECT_EQ(f1->EdtServerPort->text(), "60110");
  EXPECT_FALSE(f1->Panel1->isEnabled());
  EXPECT_FALSE(f1->Button1->isEnabled());
  EXPECT_EQ(QApplication::focusWidget(), f1->ListBox1);
  EXPECT_EQ(f1->ListBox1->Count(), 0);
  EXPECT_EQ(f1->ListBox1->ItemIndex(), -1);
  EXPECT_EQ(app::ApplicationTitle(), "ORVEN网络设备现场设置程序");
  EXPECT_EQ(f1->windowTitle(), app::ApplicationTitle());
  EXPECT_FALSE(f2->isVisible());
}

TEST_F(AppTest, WindowIsFixedSizeAndNotMaximisable) {
  EXPECT_EQ(f1->size(), QSize(548, 434));
  EXPECT_EQ(f1->minimumSize(), f1->maximumSize());
  EXPECT_FALSE(f1->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(f1->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(f1->windowFlags() & Qt::WindowCloseButtonHint);
}

TEST_F(AppTest, LayoutGeometryTextsAndLimits) {
  EXPECT_EQ(f1->ListBox1->geometry(), QRect(0, 0, 160, 419));
  EXPECT_EQ(f1->Panel1->geometry(), QRect(160, 0, 388, 419));
  EXPECT_EQ(f1->Label13->geometry(), QRect(0, 419, 548, 15));
  EXPECT_TRUE(f1->Label13->text().contains("Ver2.0.0.4"));
  struct Edit { QLineEdit* e; QRect r; int max; };
  for (const Edit& x : {Edit{f1->edtPAddr, {231, 62, 140, 23}, 15}, Edit{f1->edtSubNetMask, {231, 97, 140, 23}, 15},
                        Edit{f1->edtGatePAddr, {231, 127, 140, 23}, 15}, Edit{f1->edtDNS1PAddr, {231, 157, 140, 23}, 15},
                        Edit{f1->edtDNS2PAddr, {231, 187, 140, 23}, 15}, Edit{f1->edtHAddr1, {231, 217, 42, 23}, 2},
                        Edit{f1->edtHAddr2, {329, 217, 42, 23}, 2}, Edit{f1->edtServerPAddr, {231, 247, 140, 23}, 15}}) {
    EXPECT_EQ(x.e->geometry(), x.r);
    EXPECT_EQ(x.e->maxLength(), x.max);
  }
  EXPECT_EQ(f1->EdtServerPort->geometry(), QRect(231, 277, 140, 24));
  EXPECT_EQ(f1->edtDeviceName->geometry(), QRect(114, 333, 260, 23));
  EXPECT_EQ(f1->Button1->geometry(), QRect(248, 377, 123, 25));
  EXPECT_EQ(f1->Button1->text(), "写入配置");
  EXPECT_EQ(f1->CheckAuto->text(), "自动IP地址：");
  EXPECT_EQ(f1->Label11->text(), "00:04:A3:");
  EXPECT_EQ(f1->Label14->text(), ":         :");
  EXPECT_EQ(f1->Label12->text(), "默认服务器端口为60110");
  EXPECT_EQ(f1->Label4->text(), "子网  掩码:");
  EXPECT_EQ(f1->EdtServerPort->MinValue(), 1);
  EXPECT_EQ(f1->EdtServerPort->MaxValue(), 65535);
  EXPECT_EQ(f1->font().pixelSize(), 15);
  // Right-justified labels keep the right edge of their layout place.
  EXPECT_EQ(f1->Label12->geometry().right(), 207 + 160 - 1);
  EXPECT_EQ(f1->Label1->geometry().right(), 28 + 83 - 1);
}

TEST_F(AppTest, TabOrderPutsTheAddressEditsAfterTheWriteButton) {
  Announce(kDevA, Config(1));
  ASSERT_TRUE(f1->Panel1->isEnabled());
  f1->edtDeviceName->setText("x");  // enables the write button
  ASSERT_TRUE(f1->Button1->isEnabled());
  const QWidget* expected[] = {f1->CheckAuto,     f1->edtHAddr1,    f1->edtHAddr2,     f1->EdtServerPort,
                               f1->edtDeviceName, f1->Button1,      f1->edtPAddr,      f1->edtSubNetMask,
                               f1->edtGatePAddr,  f1->edtDNS1PAddr, f1->edtDNS2PAddr, f1->edtServerPAddr};
  f1->ListBox1->setFocus(Qt::TabFocusReason);
  for (const QWidget* w : expected) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), w) << w->metaObject()->className();
  }
}

TEST(ExceptionDisplay, FullStopRule) {
  EXPECT_EQ(app::DisplayText(QStringLiteral("设备名称不能为空。")), "设备名称不能为空。.");
  EXPECT_EQ(app::DisplayText(QStringLiteral("abc")), "abc.");
  EXPECT_EQ(app::DisplayText(QStringLiteral("port 7")), "port 7.");
  EXPECT_EQ(app::DisplayText(QStringLiteral("done.")), "done.");
  EXPECT_EQ(app::DisplayText(QStringLiteral("a,")), "a,");
  EXPECT_EQ(app::DisplayText(QStringLiteral("a!")), "a!");
  EXPECT_EQ(app::DisplayText(QString()), "");
}

TEST(ExceptionDisplay, InnermostNonEmptyMessageOfANestedChain) {
  try {
    try {
      throw std::runtime_error("inner cause");
    } catch (...) {
      std::throw_with_nested(std::runtime_error("outer"));
    }
  } catch (const std::exception& e) {
    EXPECT_EQ(app::DisplayText(e), "inner cause.");
  }
  try {
    try {
      throw std::runtime_error("");
    } catch (...) {
      std::throw_with_nested(std::runtime_error("outer"));
    }
  } catch (const std::exception& e) {
    EXPECT_EQ(app::DisplayText(e), "outer.");
  }
}

TEST_F(AppTest, HandlerErrorsShowAStopBoxCaptionedWithTheTitleAndTheProgramGoesOn) {
  const auto boxes = CatchBoxes([] { app::Guard([] { throw std::runtime_error("不允许设置此IP地址"); }); });
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "不允许设置此IP地址.");
  EXPECT_EQ(boxes[0].title, "ORVEN网络设备现场设置程序");
  EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
  EXPECT_EQ(boxes[0].ownerTitle, "ORVEN网络设备现场设置程序");

  EXPECT_TRUE(CatchBoxes([] { app::Guard([] { throw app::EAbort(); }); }).empty());
  const auto odd = CatchBoxes([] { app::Guard([] { throw 42; }); });
  ASSERT_EQ(odd.size(), 1u);
  EXPECT_TRUE(odd[0].text.isEmpty());
}

TEST_F(AppTest, MessageBoxesShowReceivedTextAsPlainText) {
  const auto boxes = CatchBoxes([] { app::Guard([] { throw std::runtime_error("<b>bold</b>"); }); });
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "<b>bold</b>.");
}

TEST_F(AppTest, DatagramsAreHandledWhileAMessageBoxIsOpen) {
  Peer device;
  orventest::ExpectModalBoxes holding;  // the box stays open until the datagram is handled
  const long long before = f1->IntakeCalls();
  long long duringBox = before;
  QElapsedTimer clock;
  clock.start();
  QTimer watcher;
  watcher.setInterval(5);
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    if (f1->IntakeCalls() > before || clock.elapsed() > 60000) {
      duringBox = f1->IntakeCalls();
      box->close();
    }
  });
  watcher.start();
  QTimer::singleShot(20, [&] { device.SendTo("255.255.255.255", 60080, Packet(kDevA, Config(1))); });
  app::ShowMessage("busy");
  watcher.stop();
  EXPECT_GT(duringBox, before) << "the announcement was handled inside the box's modal loop";
  EXPECT_EQ(f1->ListBox1->Count(), 1);
}
