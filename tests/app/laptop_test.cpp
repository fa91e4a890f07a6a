// The window's writes on a laptop with two adapters, through real sockets.
// tests/e2e/laptop_test.py builds the laptop (Wi-Fi with the default route,
// the site LAN without a gateway), starts devices on both, runs this case in
// the laptop's namespace with ORVEN_LAPTOP_DEVICES="IDENT=NAME,..." and then
// checks where the answers came from. Elsewhere the case is skipped.
#include "app_fixture.h"

#include <QString>
#include <QStringList>

using namespace apptest;

TEST_F(AppTest, LaptopWithTwoAdaptersWritesEveryDeviceHeard) {
  const QString devices = qEnvironmentVariable("ORVEN_LAPTOP_DEVICES");
  if (devices.isEmpty()) GTEST_SKIP() << "runs on the laptop topology of tests/e2e/laptop_test.py";
  for (const QString& item : devices.split(',')) {
    const QStringList parts = item.split('=');
    ASSERT_EQ(parts.size(), 2) << item.toStdString();
    const std::uint64_t ident = parts[0].toULongLong(nullptr, 16);
    ASSERT_TRUE(QTest::qWaitFor([&] { return f1->Devices().IndexOf(ident) >= 0; }, 60000))
        << parts[0].toStdString() << " not heard";
    // As the technician does it: click the device's line, type the name, press the write button.
    const int line = f1->Devices().IndexOf(ident);
    f1->ListBox1->setItemIndex(line);
    f1->ListBox1Click(f1->ListBox1);
    f1->edtDeviceName->setText(parts[1]);
    QTest::mouseClick(f1->Button1, Qt::LeftButton);
    ASSERT_TRUE(f2->isVisible()) << "no write started for " << parts[0].toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return f2->Label1->isVisible(); }, 60000));
    EXPECT_EQ(f2->Label1->text(), "命令执行成功") << parts[0].toStdString();
    QTest::mouseClick(f2->Button1, Qt::LeftButton);
    ASSERT_TRUE(f1->isEnabled());
  }
}
