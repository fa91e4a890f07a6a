// Spin edit: reading, writing and clamping the value, the character filter,
// cut and paste, focus handling and geometry.
#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QImage>
#include <QInputMethodEvent>
#include <QMenu>

#include <climits>

#include "spin_fixture.h"

namespace {

// The menu entry for a line edit action, by the text the line edit gives it.
QAction* MenuEntry(QMenu* menu, const char* source) {
  const QString label = QCoreApplication::translate("QLineEdit", source);
  for (QAction* a : menu->actions())
    if (a->text().section(u'\t', 0, 0) == label) return a;
  return nullptr;
}

TEST(SpinEdit, DefaultsAfterConstruction) {
  TCSpinEdit e;
  EXPECT_EQ(e.text(), "0");
  EXPECT_EQ(e.MinValue(), 0);
  EXPECT_EQ(e.MaxValue(), 0);
  EXPECT_EQ(e.Increment(), 1);
  EXPECT_TRUE(e.EditorEnabled());
  EXPECT_TRUE(e.AutoSelect());
  EXPECT_FALSE(e.isReadOnly());
  ASSERT_NE(e.Button(), nullptr);
  EXPECT_EQ(e.Button()->parentWidget(), &e);
  EXPECT_EQ(e.Button()->size(), QSize(15, 17));
  EXPECT_EQ(e.Button()->FocusControl(), &e);
  EXPECT_FALSE(e.Button()->TabStop());
}

TEST(SpinEdit, ValueFollowsStrToIntWithoutClamping) {
  TCSpinEdit e;
  e.setMinValue(1);
  e.setMaxValue(65535);
  QSignalSpy changed(&e, &QLineEdit::textChanged);
  const struct { const char* text; int value; } readable[] = {
      {"60110", 60110}, {"+5", 5},   {"-0", 0},
      {"007", 7},       {"70000", 70000}, {"-12", -12},
      {"2147483647", INT_MAX}, {"-2147483648", INT_MIN},
  };
  for (const auto& r : readable) {
    e.setText(QString::fromLatin1(r.text));
    changed.clear();
    EXPECT_EQ(e.Value(), r.value) << r.text;
    EXPECT_EQ(e.text(), QString::fromLatin1(r.text)) << "reading never rewrites a number";
    EXPECT_EQ(changed.count(), 0) << r.text;
  }
}

TEST(SpinEdit, UnreadableTextIsRepairedToMinValue) {
  TCSpinEdit e;
  e.setMinValue(1);
  e.setMaxValue(65535);
  const QString unreadable[] = {"",   "-",   "+",          "abc",         "1.5",       " 5",
                                "5 ", "+-5", "2147483648", "-2147483649", u"\uFF11\uFF12"_qs, "0x10"};
  for (const QString& t : unreadable) {
    e.setText(t);
    QSignalSpy changed(&e, &QLineEdit::textChanged);
    EXPECT_EQ(e.Value(), 1) << t.toStdString();
    EXPECT_EQ(e.text(), "1") << t.toStdString();
    ASSERT_EQ(changed.count(), 1) << t.toStdString();
    EXPECT_EQ(changed.at(0).at(0).toString(), "1");
  }
}

TEST(SpinEdit, SetValueClampsAndEqualTextIsNoChange) {
  TCSpinEdit e;
  e.setMaxValue(65535);
  e.setMinValue(1);
  QSignalSpy changed(&e, &QLineEdit::textChanged);
  e.SetValue(60110);
  EXPECT_EQ(e.text(), "60110");
  EXPECT_EQ(changed.count(), 1);
  e.SetValue(60110);
  e.setText("60110");  // the line edit itself: same text, no notification
  EXPECT_EQ(changed.count(), 1);
  e.SetValue(70000);
  EXPECT_EQ(e.text(), "65535");
  e.SetValue(0);
  EXPECT_EQ(e.text(), "1");
  e.SetValue(-7);
  EXPECT_EQ(e.text(), "1");
  EXPECT_EQ(changed.count(), 3);
  EXPECT_EQ(e.CheckValue(65536), 65535);
  EXPECT_EQ(e.CheckValue(0), 1);
  EXPECT_EQ(e.CheckValue(443), 443);
}

TEST(SpinEdit, EqualBoundsMeanNoRangeCheck) {
  TCSpinEdit e;
  e.setMinValue(5);
  e.setMaxValue(5);
  e.SetValue(-100);
  EXPECT_EQ(e.text(), "-100");
  e.SetValue(INT_MAX);
  EXPECT_EQ(e.text(), "2147483647");
  EXPECT_EQ(e.CheckValue(INT_MIN), INT_MIN);
  // Stepping at the end of the 32-bit range stays there instead of wrapping.
  e.UpClick(nullptr);
  EXPECT_EQ(e.text(), "2147483647");
  e.SetValue(INT_MIN);
  e.DownClick(nullptr);
  EXPECT_EQ(e.text(), "-2147483648");
}

TEST(SpinEdit, ClicksStepByIncrementAndClamp) {
  TCSpinEdit e;
  e.setMaxValue(65535);
  e.setMinValue(1);
  e.setIncrement(100);
  e.SetValue(65400);
  e.UpClick(nullptr);
  EXPECT_EQ(e.text(), "65500");
  e.UpClick(nullptr);
  EXPECT_EQ(e.text(), "65535");
  e.SetValue(50);
  e.DownClick(nullptr);
  EXPECT_EQ(e.text(), "1");
}

TEST(SpinEdit, ValidCharacters) {
  TCSpinEdit e;
  for (char c : QByteArray("0123456789+-")) EXPECT_TRUE(e.IsValidChar(QChar(c))) << c;
  EXPECT_TRUE(e.IsValidChar(e.locale().decimalPoint().at(0)));
  EXPECT_TRUE(e.IsValidChar(QChar(8)));
  EXPECT_TRUE(e.IsValidChar(QChar(27)));
  for (char16_t c : {u'a', u'Z', u' ', u'\r', u'*', u'\u4e00', u'\uFF11'})
    EXPECT_FALSE(e.IsValidChar(QChar(c))) << int(c);
  e.setEditorEnabled(false);
  EXPECT_FALSE(e.IsValidChar(QChar('5')));
  EXPECT_FALSE(e.IsValidChar(QChar('-')));
  EXPECT_FALSE(e.IsValidChar(QChar(8)));
  EXPECT_TRUE(e.IsValidChar(QChar(27)));
  EXPECT_TRUE(e.IsValidChar(QChar(3)));
  EXPECT_FALSE(e.IsValidChar(QChar('\r')));
}

TEST(SpinEdit, MinimumHeightRule) {
  EXPECT_EQ(TCSpinEdit::MinHeightFor(15, 15, 1), 24);
  EXPECT_EQ(TCSpinEdit::MinHeightFor(15, 40, 1), 24);
  EXPECT_EQ(TCSpinEdit::MinHeightFor(15, 8, 1), 23);  // the smaller cell counts
  EXPECT_EQ(TCSpinEdit::MinHeightFor(20, 16, 2), 20 + 4 + 8 + 2);
  // A font given in pixels counts by that height, not by the face's taller
  // metrics (WenQuanYi's are, so this tells the two apart where it is the
  // face): the 15-pixel field of the main window needs 24 pixels.
  TCSpinEdit e;
  e.setFont(FifteenPixelFont());
  EXPECT_EQ(e.GetMinHeight(), 24);
}

TEST(SpinButton, DefaultGlyphsAreSmallTriangles) {
  const auto rowWidths = [](const QPixmap& pm) {
    const QImage img = pm.toImage().convertToFormat(QImage::Format_ARGB32);
    std::vector<int> widths;
    for (int y = 0; y < img.height(); ++y) {
      int n = 0, first = -1;
      for (int x = 0; x < img.width(); ++x)
        if (qAlpha(img.pixel(x, y)) == 255 && qGray(img.pixel(x, y)) == 0) {
          if (first < 0) first = x;
          ++n;
        }
      if (n) {
        EXPECT_EQ(first + n / 2, 4) << "centred";  // symmetric around column 4
      }
      widths.push_back(n);
    }
    return widths;
  };
  TCSpinButton pair;
  EXPECT_EQ(pair.UpGlyph().size(), QSize(9, 6));
  EXPECT_EQ(rowWidths(pair.UpGlyph()), (std::vector<int>{0, 1, 3, 5, 7, 0}));
  EXPECT_EQ(rowWidths(pair.DownGlyph()), (std::vector<int>{0, 7, 5, 3, 1, 0}));
  QPixmap red(4, 4);
  red.fill(Qt::red);
  pair.setUpGlyph(red);
  EXPECT_EQ(pair.UpButton()->Glyph().size(), QSize(4, 4));
  pair.setUpGlyph(QPixmap());
  EXPECT_EQ(rowWidths(pair.UpGlyph()), (std::vector<int>{0, 1, 3, 5, 7, 0}));
}

TEST(SpinButton, ArrowLayout) {
  TCSpinButton pair;
  pair.show();
  pair.resize(20, 25);
  EXPECT_EQ(pair.UpButton()->geometry(), QRect(0, 0, 20, 12));
  EXPECT_EQ(pair.DownButton()->geometry(), QRect(0, 11, 20, 14));
  pair.resize(9, 19);  // too narrow: widened to 15
  EXPECT_EQ(pair.size(), QSize(15, 19));
  EXPECT_EQ(pair.UpButton()->geometry(), QRect(0, 0, 15, 9));
  EXPECT_EQ(pair.DownButton()->geometry(), QRect(0, 8, 15, 11));
}

// ---------------------------------------------------------------------------
// In a shown window

TEST_F(SpinWindowTest, GeometryOfTheServerPortField) {
  ASSERT_EQ(spin_->font().pixelSize(), 15);
  EXPECT_EQ(spin_->GetMinHeight(), 24) << "15 + 15/4 + 4 x 1 + 2";
  EXPECT_EQ(spin_->size(), QSize(140, 24));
  TCSpinButton* pair = spin_->Button();
  EXPECT_EQ(pair->geometry(), QRect(120, 0, 15, 19));
  EXPECT_EQ(pair->UpButton()->geometry(), QRect(0, 0, 15, 9));
  EXPECT_EQ(pair->DownButton()->geometry(), QRect(0, 8, 15, 11));
  EXPECT_TRUE(pair->isVisible());

  // The text never runs under the arrows, even when it is too long to fit.
  struct Probe : TCSpinEdit {
    using TCSpinEdit::TCSpinEdit;
    using QLineEdit::cursorRect;
  };
  auto* probe = new Probe(window_.get());
  probe->setFont(spin_->font());
  probe->setGeometry(10, 100, 140, 24);
  probe->show();
  probe->setText(QString(40, u'8'));
  probe->end(false);
  probe->repaint();  // the line edit scrolls its text when it paints
  EXPECT_LT(probe->cursorRect().center().x(), probe->Button()->x()) << "the cursor stays left of the arrows";
  EXPECT_GT(probe->cursorRect().center().x(), probe->Button()->x() - 12) << "the text uses the space up to the arrows";

  // A height below the minimum is raised to it.
  spin_->resize(140, 10);
  QApplication::processEvents();
  EXPECT_EQ(spin_->height(), spin_->GetMinHeight());
  spin_->resize(200, 40);
  EXPECT_EQ(pair->geometry(), QRect(180, 0, 15, 35));
}

TEST_F(SpinWindowTest, TypingAndTextChanged) {
  Enter();
  QSignalSpy changed(spin_, &QLineEdit::textChanged);
  Type("443");
  EXPECT_EQ(spin_->text(), "443");
  EXPECT_EQ(changed.count(), 3) << "one notification per typed character";
  spin_->setText("443");
  EXPECT_EQ(changed.count(), 3);
  QTest::keyClick(spin_, Qt::Key_Backspace);
  EXPECT_EQ(spin_->text(), "44");
}

TEST_F(SpinWindowTest, OutOfRangeStaysUntilFocusLeaves) {
  Enter();
  Type("70000");
  EXPECT_EQ(spin_->text(), "70000");
  EXPECT_EQ(spin_->Value(), 70000);
  EXPECT_EQ(spin_->text(), "70000");
  QSignalSpy changed(spin_, &QLineEdit::textChanged);
  Leave();
  EXPECT_EQ(spin_->text(), "65535");
  EXPECT_EQ(changed.count(), 1);

  Enter();
  Type("0");
  Leave();
  EXPECT_EQ(spin_->text(), "1");

  Enter();
  Type("+5");
  EXPECT_EQ(spin_->Value(), 5);
  Leave();
  EXPECT_EQ(spin_->text(), "+5") << "in range: nothing is rewritten";

  Enter();
  spin_->clear();
  Leave();
  EXPECT_EQ(spin_->text(), "1") << "unreadable text becomes MinValue on leaving";
}

TEST_F(SpinWindowTest, ClearThenReadGivesMinValue) {
  Enter();
  spin_->selectAll();
  QTest::keyClick(spin_, Qt::Key_Delete);
  ASSERT_EQ(spin_->text(), "");
  QSignalSpy changed(spin_, &QLineEdit::textChanged);
  EXPECT_EQ(spin_->Value(), 1);
  EXPECT_EQ(spin_->text(), "1");
  EXPECT_EQ(changed.count(), 1);
}

TEST_F(SpinWindowTest, ArrowKeysStepAtTheBounds) {
  Enter();
  spin_->SetValue(65534);
  QTest::keyClick(spin_, Qt::Key_Up);
  EXPECT_EQ(spin_->text(), "65535");
  QSignalSpy changed(spin_, &QLineEdit::textChanged);
  QTest::keyClick(spin_, Qt::Key_Up);
  QTest::mouseClick(spin_->Button()->UpButton(), Qt::LeftButton);
  EXPECT_EQ(spin_->text(), "65535");
  EXPECT_EQ(changed.count(), 0);

  spin_->SetValue(2);
  QTest::keyClick(spin_, Qt::Key_Down);
  QTest::keyClick(spin_, Qt::Key_Down);
  QTest::mouseClick(spin_->Button()->DownButton(), Qt::LeftButton);
  EXPECT_EQ(spin_->text(), "1");
}

TEST_F(SpinWindowTest, UpOnPastedGarbageStepsFromMinValue) {
  Enter();
  QApplication::clipboard()->setText("abc");
  spin_->selectAll();
  QTest::keyClick(spin_, Qt::Key_V, Qt::ControlModifier);
  ASSERT_EQ(spin_->text(), "abc") << "pasted text is not filtered";
  QTest::mouseClick(spin_->Button()->UpButton(), Qt::LeftButton);
  EXPECT_EQ(spin_->text(), "2");
}

TEST_F(SpinWindowTest, RefusedCharactersBeepAndChangeNothing) {
  Enter();
  spin_->setText("12");
  spin_->end(false);
  QSignalSpy changed(spin_, &QLineEdit::textChanged);
  for (Qt::Key key : {Qt::Key_A, Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
    const int beeps = widgets::BeepCount();
    QTest::keyClick(spin_, key);
    EXPECT_EQ(widgets::BeepCount(), beeps + 1) << key;
  }
  const int beeps = widgets::BeepCount();
  QTest::keyClick(spin_, 'x', Qt::AltModifier);  // Alt does not smuggle letters in
  EXPECT_EQ(widgets::BeepCount(), beeps + 1);
  EXPECT_EQ(spin_->text(), "12");
  EXPECT_EQ(changed.count(), 0);

  const int before = widgets::BeepCount();
  QTest::keyClicks(spin_, "3-");
  QTest::keyClick(spin_, Qt::Key_C, Qt::ControlModifier);  // a shortcut, not a letter
  QTest::keyClick(spin_, Qt::Key_Left);
  EXPECT_EQ(widgets::BeepCount(), before);
  EXPECT_EQ(spin_->text(), "123-");
}

TEST_F(SpinWindowTest, InputMethodTextIsFiltered) {
  Enter();
  spin_->setText("");
  const int beeps = widgets::BeepCount();
  QInputMethodEvent ime;
  ime.setCommitString(u"1\u4e002x"_qs);
  QApplication::sendEvent(spin_, &ime);
  EXPECT_EQ(spin_->text(), "12");
  EXPECT_EQ(widgets::BeepCount(), beeps + 2);
}

TEST_F(SpinWindowTest, ReadOnlyOnlyBeeps) {
  Enter();
  spin_->SetValue(100);
  spin_->setReadOnly(true);
  QSignalSpy changed(spin_, &QLineEdit::textChanged);
  const int beeps = widgets::BeepCount();
  QTest::mouseClick(spin_->Button()->UpButton(), Qt::LeftButton);
  QTest::mouseClick(spin_->Button()->DownButton(), Qt::LeftButton);
  QTest::keyClick(spin_, Qt::Key_Up);
  QTest::keyClick(spin_, Qt::Key_Down);
  EXPECT_EQ(widgets::BeepCount(), beeps + 4);

  QApplication::clipboard()->setText("777");
  spin_->selectAll();
  QTest::keyClick(spin_, Qt::Key_X, Qt::ControlModifier);
  QTest::keyClick(spin_, Qt::Key_V, Qt::ControlModifier);
  QTest::keyClick(spin_, Qt::Key_Insert, Qt::ShiftModifier);
  EXPECT_EQ(spin_->text(), "100");
  EXPECT_EQ(QApplication::clipboard()->text(), "777") << "cut did not copy either";
  EXPECT_EQ(changed.count(), 0);

  // The menu offers nothing that edits: the line edit leaves those entries
  // out of a read-only field's menu, or shows them disabled.
  spin_->selectAll();
  std::unique_ptr<QMenu> menu(spin_->CreateContextMenu());
  ASSERT_NE(MenuEntry(menu.get(), "&Copy"), nullptr) << "entries are found by their labels";
  EXPECT_TRUE(MenuEntry(menu.get(), "&Copy")->isEnabled());
  for (const char* entry : {"&Undo", "&Redo", "Cu&t", "&Paste", "Delete"}) {
    const QAction* a = MenuEntry(menu.get(), entry);
    EXPECT_TRUE(a == nullptr || !a->isEnabled()) << entry;
  }
  // Triggering whatever is enabled changes nothing but the clipboard's copy.
  for (QAction* a : menu->actions())
    if (a->isEnabled() && a != MenuEntry(menu.get(), "&Copy")) a->trigger();
  EXPECT_EQ(spin_->text(), "100");
  EXPECT_EQ(changed.count(), 0);
}

TEST_F(SpinWindowTest, EditorDisabledLeavesOnlyTheArrows) {
  Enter();
  spin_->SetValue(100);
  spin_->setEditorEnabled(false);
  spin_->end(false);
  QApplication::clipboard()->setText("777");
  const int beeps = widgets::BeepCount();
  QTest::keyClicks(spin_, "5");
  QTest::keyClick(spin_, Qt::Key_Backspace);
  EXPECT_EQ(widgets::BeepCount(), beeps + 2);
  spin_->selectAll();
  QTest::keyClick(spin_, Qt::Key_V, Qt::ControlModifier);
  QTest::keyClick(spin_, Qt::Key_X, Qt::ControlModifier);
  QTest::keyClick(spin_, Qt::Key_Delete);
  EXPECT_EQ(spin_->text(), "100");
  EXPECT_EQ(QApplication::clipboard()->text(), "777");

  QTest::keyClick(spin_, Qt::Key_Up);
  QTest::mouseClick(spin_->Button()->UpButton(), Qt::LeftButton);
  EXPECT_EQ(spin_->text(), "102");

  spin_->selectAll();
  std::unique_ptr<QMenu> menu(spin_->CreateContextMenu());
  for (const char* entry : {"Cu&t", "&Paste", "Delete"}) {
    QAction* a = MenuEntry(menu.get(), entry);
    ASSERT_NE(a, nullptr) << entry;
    EXPECT_FALSE(a->isEnabled()) << entry;
  }
  EXPECT_TRUE(MenuEntry(menu.get(), "&Copy")->isEnabled());

  // Editing allowed again: cut and paste work as usual.
  spin_->setEditorEnabled(true);
  spin_->selectAll();
  QTest::keyClick(spin_, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(spin_->text(), "");
  EXPECT_EQ(QApplication::clipboard()->text(), "102");
  QTest::keyClick(spin_, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(spin_->text(), "102");
}

TEST_F(SpinWindowTest, PressingAnArrowFocusesTheEditAndSelectsAll) {
  spin_->setText("60110");
  QTest::mousePress(spin_->Button()->UpButton(), Qt::LeftButton);
  EXPECT_TRUE(spin_->hasFocus());
  EXPECT_EQ(spin_->selectedText(), "60110");
  QTest::mouseRelease(spin_->Button()->UpButton(), Qt::LeftButton);
  EXPECT_EQ(spin_->text(), "60111");
  EXPECT_EQ(spin_->selectedText(), "") << "setText drops the selection";
  EXPECT_FALSE(spin_->Button()->hasFocus());
}

TEST_F(SpinWindowTest, AutoSelectOnFocusEntering) {
  // A left press on the edit itself places the cursor instead.
  QTest::mouseClick(spin_, Qt::LeftButton, {}, QPoint(5, 12));
  EXPECT_TRUE(spin_->hasFocus());
  EXPECT_FALSE(spin_->hasSelectedText());
  Leave();

  spin_->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(spin_->selectedText(), "60110");
  Leave();

  spin_->setAutoSelect(false);
  spin_->setFocus(Qt::TabFocusReason);
  EXPECT_FALSE(spin_->hasSelectedText());
  Leave();
  QTest::mousePress(spin_->Button()->DownButton(), Qt::LeftButton);
  EXPECT_TRUE(spin_->hasFocus());
  EXPECT_FALSE(spin_->hasSelectedText());
  QTest::mouseRelease(spin_->Button()->DownButton(), Qt::LeftButton);
}

TEST_F(SpinWindowTest, PairAsTabStopTakesFocusAndMovesFocusRect) {
  TCSpinButton* pair = spin_->Button();
  pair->setFocusControl(nullptr);
  pair->setTabStop(true);
  int ups = 0, downs = 0;
  pair->setOnUpClick([&](QObject* s) { EXPECT_EQ(s, pair); ++ups; });
  pair->setOnDownClick([&](QObject* s) { EXPECT_EQ(s, pair); ++downs; });
  EXPECT_EQ(pair->FocusedButton(), pair->UpButton());

  QTest::mousePress(pair->DownButton(), Qt::LeftButton);
  EXPECT_TRUE(pair->hasFocus());
  EXPECT_EQ(pair->FocusedButton(), pair->DownButton());
  EXPECT_TRUE(pair->DownButton()->ShowFocusRect());
  EXPECT_FALSE(pair->UpButton()->ShowFocusRect());
  QTest::mouseRelease(pair->DownButton(), Qt::LeftButton);
  EXPECT_EQ(downs, 1);

  QTest::keyClick(pair, Qt::Key_Space);
  EXPECT_EQ(downs, 2);
  QTest::keyClick(pair, Qt::Key_Up);
  EXPECT_EQ(ups, 1);
  EXPECT_EQ(pair->FocusedButton(), pair->UpButton());
  EXPECT_TRUE(pair->UpButton()->ShowFocusRect());
  QTest::keyClick(pair, Qt::Key_Space);
  EXPECT_EQ(ups, 2);

  Leave();
  EXPECT_FALSE(pair->UpButton()->ShowFocusRect());

  // Not a tab stop: the focused arrow stays where it is.
  pair->setTabStop(false);
  QTest::mouseClick(pair->DownButton(), Qt::LeftButton);
  EXPECT_EQ(pair->FocusedButton(), pair->UpButton());
  EXPECT_EQ(downs, 3);
}

}  // namespace
