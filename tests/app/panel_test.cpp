// Devices appearing in the list, the details panel and field editing.
#include "app_fixture.h"

using namespace apptest;

namespace {

QString Txt(const char* s) { return QString::fromUtf8(s); }

// A left click on a line of the device list, as the user makes it.
void ClickLine(app::TListBox* list, int i) {
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(i, 0)).center());
}

}  // namespace

TEST_F(AppTest, FirstAnnouncementAddsSelectsAndFillsThePanel) {
  auto c = Config(1);
  c.DNS2PAddr = 0;
  Announce(kDevA, c);
  ASSERT_EQ(f1->ListBox1->Count(), 1);
  EXPECT_EQ(f1->ListBox1->Item(0), "0012AB34CD5601");
  EXPECT_EQ(f1->ListBox1->ItemIndex(), 0);
  EXPECT_TRUE(f1->Panel1->isEnabled());
  EXPECT_EQ(f1->lblIdent->text(), "0012AB34CD5601");
  EXPECT_FALSE(f1->CheckAuto->isChecked());
  EXPECT_EQ(f1->edtPAddr->text(), "192.168.1.101");
  EXPECT_EQ(f1->edtSubNetMask->text(), "255.255.255.0");
  EXPECT_EQ(f1->edtGatePAddr->text(), "192.168.1.1");
  EXPECT_EQ(f1->edtDNS1PAddr->text(), "192.168.1.1");
  EXPECT_EQ(f1->edtDNS2PAddr->text(), "");
  EXPECT_EQ(f1->edtServerPAddr->text(), "192.168.1.10");
  EXPECT_EQ(f1->EdtServerPort->text(), "60110");
  EXPECT_EQ(f1->edtHAddr1->text(), "1A");
  EXPECT_EQ(f1->edtHAddr2->text(), "01");
  EXPECT_EQ(f1->edtDeviceName->text(), Txt("泵站1"));
  EXPECT_EQ(f1->Label15->text(), "06");
  EXPECT_FALSE(f1->Button1->isEnabled());
}

TEST_F(AppTest, LaterDevicesLeaveSelectionAndPanelAlone) {
  Announce(kDevA, Config(1));
  TypeInto(f1->edtDeviceName, "edited");
  ASSERT_TRUE(f1->Button1->isEnabled());
  Announce(kDevB, Config(2));
  Announce(kDevA, Config(1));
  ASSERT_EQ(f1->ListBox1->Count(), 2);
  EXPECT_EQ(f1->ListBox1->Item(1), "0012AB34CD5602");
  EXPECT_EQ(f1->ListBox1->ItemIndex(), 0);
  EXPECT_EQ(f1->lblIdent->text(), "0012AB34CD5601");
  EXPECT_EQ(f1->edtPAddr->text(), "192.168.1.101");
  EXPECT_EQ(f1->edtDeviceName->text(), "edited") << "unsaved edits stay";
  EXPECT_TRUE(f1->Button1->isEnabled());
}

TEST_F(AppTest, ChangedAnnouncementOfTheSelectedDeviceUpdatesTheEntryNotThePanel) {
  Announce(kDevA, Config(1));
  Announce(kDevA, Config(5), 0xFC);
  EXPECT_EQ(EntryName(0), "泵站5");
  EXPECT_EQ(f1->edtDeviceName->text(), Txt("泵站1"));
  EXPECT_EQ(f1->edtPAddr->text(), "192.168.1.101");
  EXPECT_FALSE(f1->Button1->isEnabled());
  ClickLine(f1->ListBox1, 0);  // the line already selected
  EXPECT_EQ(f1->edtDeviceName->text(), Txt("泵站5"));
  EXPECT_EQ(f1->edtPAddr->text(), "192.168.1.105");
}

TEST_F(AppTest, UserSelectionFillsThePanelButProgrammaticSelectionDoesNot) {
  Announce(kDevA, Config(1));
  Announce(kDevB, Config(2));
  f1->ListBox1->setItemIndex(1);
  EXPECT_EQ(f1->lblIdent->text(), "0012AB34CD5601") << "setting the selection runs no handler";
  const QRect line = f1->ListBox1->visualRect(f1->ListBox1->model()->index(1, 0));
  f1->ListBox1->setItemIndex(0);
  QTest::mouseClick(f1->ListBox1->viewport(), Qt::LeftButton, {}, line.center());
  EXPECT_EQ(f1->ListBox1->ItemIndex(), 1);
  EXPECT_EQ(f1->lblIdent->text(), "0012AB34CD5602");
  QTest::keyClick(f1->ListBox1, Qt::Key_Up);
  EXPECT_EQ(f1->lblIdent->text(), "0012AB34CD5601");
}

TEST_F(AppTest, FourthHardwareAddressByte) {
  struct Case { unsigned long long ident; unsigned char flag; const char* shown; };
  const Case cases[] = {{0x00112233445566ull, 1, "65"}, {0xFF0012AB34CD56ull, 1, "13"},
                        {0xFF0012AB34CD57ull, 0, "34"}, {0x0A0B0C0D0E0F10ull, 0, "06"},
                        {0x0A0B0C0D0E0F11ull, 2, "06"}};
  for (const Case& c : cases) Announce(c.ident, Config(), 0xFF, c.flag);
  for (int i = 0; i < 5; ++i) {
    f1->ListBox1->setItemIndex(i);
    f1->ListBox1Click(f1->ListBox1);
    EXPECT_EQ(f1->Label15->text(), cases[i].shown) << f1->lblIdent->text().toStdString();
  }
}

TEST_F(AppTest, AutomaticAddressingHidesAndUntickingRestoresTheStoredAddresses) {
  auto c = Config(3);
  c.AutoIP = 2;
  c.DNS2PAddr = 0;
  Announce(kDevA, c);
  EXPECT_TRUE(f1->CheckAuto->isChecked());
  for (QLineEdit* e : {static_cast<QLineEdit*>(f1->edtPAddr), static_cast<QLineEdit*>(f1->edtSubNetMask),
                       static_cast<QLineEdit*>(f1->edtGatePAddr), static_cast<QLineEdit*>(f1->edtDNS1PAddr),
                       static_cast<QLineEdit*>(f1->edtDNS2PAddr)}) {
    EXPECT_FALSE(e->isEnabled());
    EXPECT_TRUE(e->text().isEmpty());
  }
  EXPECT_TRUE(f1->edtServerPAddr->isEnabled());
  EXPECT_EQ(f1->edtServerPAddr->text(), "192.168.1.10");
  EXPECT_FALSE(f1->Button1->isEnabled());

  QTest::mouseClick(f1->CheckAuto, Qt::LeftButton);
  EXPECT_FALSE(f1->CheckAuto->isChecked());
  EXPECT_TRUE(f1->edtPAddr->isEnabled());
  EXPECT_EQ(f1->edtPAddr->text(), "192.168.1.103");
  EXPECT_EQ(f1->edtDNS2PAddr->text(), "");
  EXPECT_TRUE(f1->Button1->isEnabled()) << "AutoIP 0 differs from the stored 2";

  // What was typed is replaced by the entry's values on the next untick.
  f1->edtPAddr->setText("10.0.0.1");
  f1->CheckAuto->setChecked(true);
  f1->CheckAuto->setChecked(false);
  EXPECT_EQ(f1->edtPAddr->text(), "192.168.1.103");
}

TEST_F(AppTest, HardwareAddressEditsTakeOnlyHexDigits) {
  Announce(kDevA, Config(1));
  QLineEdit* e = f1->edtHAddr1;
  TypeInto(e, "");
  EXPECT_EQ(e->text(), "");
  EXPECT_TRUE(CatchBoxes([&] { QTest::keyClicks(e, "ghijklmnopqrstuvwxyzGHIJKLMNOPQRSTUVWXYZ"); }).empty());
  EXPECT_EQ(e->text(), "");
  QTest::keyClicks(e, "a");
  EXPECT_EQ(e->text(), "A");
  QTest::keyClicks(e, "g-");
  EXPECT_EQ(e->text(), "A");
  QTest::keyClicks(e, "9");
  EXPECT_EQ(e->text(), "A9");
  QTest::keyClicks(e, "F");
  EXPECT_EQ(e->text(), "A9") << "at most two characters";
  QTest::keyClick(e, Qt::Key_Backspace);
  EXPECT_EQ(e->text(), "A");
  QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);  // Ctrl+V is a control character: refused
  EXPECT_EQ(e->text(), "A");
  TypeInto(f1->edtHAddr2, "bc");
  EXPECT_EQ(f1->edtHAddr2->text(), "BC");
}

TEST_F(AppTest, DeviceNameIsHeldToThirtyCodePageBytes) {
  Announce(kDevA, Config(1));
  QLineEdit* e = f1->edtDeviceName;
  TypeInto(e, QString(31, 'n'));
  EXPECT_EQ(e->text(), QString(30, 'n'));
  EXPECT_EQ(e->cursorPosition(), 30);

  e->setText(Txt("一二三四五六七八九十一二三四五六"));  // 32 bytes
  EXPECT_EQ(e->text(), Txt("一二三四五六七八九十一二三四五"));
  EXPECT_EQ(e->cursorPosition(), 15);

  e->setText(Txt("a一二三四五六七八九十一二三四五"));  // 31 bytes: the cut splits the last one
  EXPECT_EQ(e->text(), Txt("a一二三四五六七八九十一二三四"));
}

TEST_F(AppTest, TheDeviceNameKeepsItsSelectionWhenLeft) {
  Announce(kDevA, Config(1));
  Focus(f1->edtDeviceName);
  f1->edtDeviceName->setSelection(0, 2);
  Leave(f1->edtServerPAddr);
  EXPECT_EQ(f1->edtDeviceName->selectedText(), QString::fromUtf8("泵站"));
  f1->edtServerPAddr->selectAll();
  Leave(f1->edtDeviceName);
  EXPECT_FALSE(f1->edtServerPAddr->hasSelectedText()) << "other edits drop theirs as usual";
}

TEST_F(AppTest, LeavingAnEmptyDeviceNameIsRefused) {
  Announce(kDevA, Config(1));
  TypeInto(f1->edtDeviceName, "");
  const auto boxes = CatchBoxes([&] { Leave(f1->edtServerPAddr); });
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "设备名称不能为空。.");
  EXPECT_EQ(boxes[0].title, "ORVEN网络设备现场设置程序");
  EXPECT_EQ(f1->focusWidget(), f1->edtDeviceName);

  TypeInto(f1->edtDeviceName, " ");
  EXPECT_TRUE(CatchBoxes([&] { Leave(f1->edtServerPAddr); }).empty()) << "a blank is a name";
}

TEST_F(AppTest, AddressEditsAreNormalisedOnLeaving) {
  Announce(kDevA, Config(1));
  struct Case { const char* typed; const char* shown; };
  for (const Case& c : {Case{"192.168.1.1", "192.168.1.1"}, Case{"192.168.1.1 ", "192.168.1.10"},
                        Case{"192.168. 1.1", "192.168.1.1"}, Case{"0.0.0.0", ""}, Case{"abc", "255.255.255.255"},
                        Case{"300.1.1.1", "255.255.255.255"}, Case{"192.168..1", "255.255.255.255"},
                        Case{"", ""}}) {
    for (QLineEdit* e : {static_cast<QLineEdit*>(f1->edtGatePAddr), static_cast<QLineEdit*>(f1->edtServerPAddr)}) {
      TypeInto(e, c.typed);
      Leave();
      EXPECT_EQ(e->text(), c.shown) << "typed '" << c.typed << "'";
    }
  }
}

TEST_F(AppTest, WriteButtonFollowsWhetherThePanelDiffersFromTheDevice) {
  Announce(kDevA, Config(1));
  EXPECT_FALSE(f1->Button1->isEnabled());
  TypeInto(f1->edtDeviceName, "泵站2");
  EXPECT_TRUE(f1->Button1->isEnabled());
  TypeInto(f1->edtDeviceName, "泵站1");
  EXPECT_FALSE(f1->Button1->isEnabled()) << "changing a field back restores the state";

  TypeInto(f1->edtPAddr, "192.168.1.10");  // a partial text is parsed as it stands
  EXPECT_TRUE(f1->Button1->isEnabled());
  TypeInto(f1->edtPAddr, "192.168.1.101");
  EXPECT_FALSE(f1->Button1->isEnabled());
}

TEST_F(AppTest, DeviceOnAutomaticAddressingReportingAddressesEnablesAtTheFirstChange) {
  auto c = Config(1);
  c.AutoIP = 1;
  Announce(kDevA, c);
  EXPECT_FALSE(f1->Button1->isEnabled()) << "a fill always leaves the button disabled";
  TypeInto(f1->edtServerPAddr, "192.168.1.10");
  EXPECT_TRUE(f1->Button1->isEnabled()) << "the comparison record holds zeros for the addresses";
}

TEST_F(AppTest, ServerAddressChangeOnAnAutomaticDeviceWithoutAddresses) {
  auto c = Config(1);
  c.AutoIP = 1;
  c.PAddr = c.SubNetMask = c.GatePAddr = c.DNS1PAddr = c.DNS2PAddr = 0;
  Announce(kDevA, c);
  TypeInto(f1->edtServerPAddr, "192.168.1.11");
  EXPECT_TRUE(f1->Button1->isEnabled());
  TypeInto(f1->edtServerPAddr, "192.168.1.10");
  EXPECT_FALSE(f1->Button1->isEnabled());
  // Unticking changes no address edit (all stay empty), yet AutoIP differs.
  QTest::mouseClick(f1->CheckAuto, Qt::LeftButton);
  EXPECT_FALSE(f1->CheckAuto->isChecked());
  EXPECT_TRUE(f1->Button1->isEnabled());
}

TEST_F(AppTest, PortFieldIsRepairedWhenTheChangeCheckReadsIt) {
  Announce(kDevA, Config(1));
  TypeInto(f1->EdtServerPort, "");
  EXPECT_EQ(f1->EdtServerPort->text(), "1");
  EXPECT_TRUE(f1->Button1->isEnabled());
  TypeInto(f1->EdtServerPort, "-");
  EXPECT_EQ(f1->EdtServerPort->text(), "1");
}

TEST_F(AppTest, PortAboveTheRangeCountsByItsLowSixteenBits) {
  auto c = Config(1);
  c.ServerPort = 4464;
  Announce(kDevA, c);
  Focus(f1->EdtServerPort);
  f1->EdtServerPort->selectAll();
  TypeText(f1->EdtServerPort, "70000");  // replaces the selection: never empty in between
  EXPECT_EQ(f1->EdtServerPort->text(), "70000");
  EXPECT_FALSE(f1->Button1->isEnabled()) << "70000 is 4464 in sixteen bits";
  Leave();
  EXPECT_EQ(f1->EdtServerPort->text(), "65535");
  EXPECT_TRUE(f1->Button1->isEnabled());
}

TEST_F(AppTest, StoredPortZeroIsShownAndRepairedOnlyWhenTheFieldIsLeft) {
  auto c = Config(1);
  c.ServerPort = 0;
  Announce(kDevA, c);
  EXPECT_EQ(f1->EdtServerPort->text(), "0");
  EXPECT_FALSE(f1->Button1->isEnabled());
  Focus(f1->EdtServerPort);
  Leave();
  EXPECT_EQ(f1->EdtServerPort->text(), "1");
  EXPECT_TRUE(f1->Button1->isEnabled());
}

TEST_F(AppTest, RecordsTheToolWouldNotBuildDifferAtTheFirstChange) {
  auto c = Config(1);
  c.DeviceName[20] = 'z';  // bytes after the name's terminator
  Announce(kDevA, c);
  EXPECT_FALSE(f1->Button1->isEnabled());
  TypeInto(f1->edtHAddr2, "01");  // same text as shown: still a change event
  EXPECT_TRUE(f1->Button1->isEnabled());
}

TEST_F(AppTest, PastedNonHexadecimalTextReportsTheConversionError) {
  Announce(kDevA, Config(1));
  const auto boxes = CatchBoxes([&] { f1->edtHAddr2->setText("ZZ"); });
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "'0x0ZZ' is not a valid integer value.");

  // Selecting another device refills the panel without a change check: the
  // port set before the hardware-address edits would otherwise read "ZZ".
  auto other = Config(2);
  other.ServerPort = 60111;
  Announce(kDevB, other);
  EXPECT_TRUE(CatchBoxes([&] { ClickLine(f1->ListBox1, 1); }).empty());
  EXPECT_EQ(f1->lblIdent->text(), "0012AB34CD5602");
  EXPECT_EQ(f1->edtHAddr2->text(), "02");
  EXPECT_FALSE(f1->Button1->isEnabled());
}

TEST_F(AppTest, TheIdentityIsShownWholeWithItsRightEdgeInPlace) {
  // The identity label grows leftwards with its text: one that kept its
  // first width would show a digit of the identity, one that grew rightwards
  // would run past the panel's column of edits.
  Announce(kDevA, Config(1));
  Announce(0xFEDCBA9876543210ull, Config(2));  // a longest identity: sixteen digits
  for (int line : {1, 0}) {
    ClickLine(f1->ListBox1, line);
    const QString shown = f1->lblIdent->text();
    EXPECT_EQ(shown, f1->ListBox1->Item(line));
    EXPECT_EQ(f1->lblIdent->geometry().right(), 361 + 8 - 1) << shown.toStdString();
    EXPECT_GE(f1->lblIdent->width(), f1->lblIdent->fontMetrics().horizontalAdvance(shown)) << shown.toStdString();
    EXPECT_GT(f1->lblIdent->x(), f1->Label1->geometry().right()) << "clear of its caption";
  }
}
