// The command line's plan reader and pre-write checks, without the network.
#include <gtest/gtest.h>

#include "cli/checks.h"
#include "cli/plan.h"
#include "cli/session.h"
#include "device/fields.h"

namespace {

TEST(Plan, ReadsRfc4180CellsInAnyColumnOrderWithTheirLines) {
  const std::string text =
      "\xEF\xBB\xBF"                                        // the mark spreadsheets write first
      "name, identity ,ip,auto,port\r\n"                     // line 1, blanks around a column name
      "\"北区,\"\"一\"\"号\n泵站\",12ab,192.168.1.5,,\r\n"  // lines 2-3: commas, quotes, a line break
      "\r\n"                                                  // line 4: blank
      " 站 ,00FF, 10.0.0.1 ,off,60110";                       // line 5, no final line break
  const std::vector<cli::PlanRow> rows = cli::ParsePlan(text, "plan.csv");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].line, 2);
  EXPECT_EQ(rows[0].ident, 0x12ABu);
  EXPECT_EQ(rows[0].changes["name"], std::optional<std::string>("北区,\"一\"号\n泵站"));
  EXPECT_EQ(rows[0].changes["ip"], std::optional<std::string>("192.168.1.5"));
  EXPECT_FALSE(rows[0].changes["auto"].has_value());  // empty cells keep the device's value
  EXPECT_FALSE(rows[0].changes["port"].has_value());
  EXPECT_EQ(rows[1].line, 5);
  EXPECT_EQ(rows[1].changes["name"], std::optional<std::string>(" 站 "));  // a name keeps its blanks
  EXPECT_EQ(rows[1].changes["ip"], std::optional<std::string>("10.0.0.1"));
  EXPECT_EQ(rows[1].changes["auto"], std::optional<std::string>("off"));

  // Every bad row is reported, each with its line; a cell in quotes that
  // does not end before the file does is reported where it began.
  try {
    cli::ParsePlan("identity,ip\n1,1.2.3.4\n2,1.2.3\n3,x\n", "p.csv");
    FAIL() << "bad rows accepted";
  } catch (const cli::Failure& f) {
    EXPECT_EQ(f.ExitCode(), 1);
    const std::string what = f.what();
    EXPECT_NE(what.find("line 3: ip: '1.2.3'"), std::string::npos) << what;
    EXPECT_NE(what.find("line 4: ip: 'x'"), std::string::npos) << what;
  }
  EXPECT_THROW(cli::ParsePlan("identity,name\n1,\"a\n2,b\n", "p.csv"), cli::Failure);
  // Control characters from the file are shown escaped, one problem a line.
  try {
    cli::ParsePlan("identity,\"a\nb\x1B[2J\xC2\x9B\"\n1,x\n", "p.csv");
    FAIL() << "unknown column accepted";
  } catch (const cli::Failure& f) {
    const std::string what = f.what();
    EXPECT_NE(what.find("p.csv: line 1: unknown column 'a\\nb\\x1B[2J\\u009B'"), std::string::npos) << what;
    EXPECT_EQ(what.find('\x1B'), std::string::npos) << what;
    EXPECT_EQ(what.find("\nb"), std::string::npos) << what;
  }
}

TEST(Plan, PreWriteChecksNameTheFieldAndSpareWhatIsNotWrong) {
  const auto record = [](const char* ip, const char* mask, const char* gateway, bool autoIP = false) {
    device::NetConfig c;
    device::ZeroConfig(c);
    c.AutoIP = autoIP ? 1 : 0;
    c.PAddr = device::IPv4FromText(ip);
    c.SubNetMask = device::IPv4FromText(mask);
    c.GatePAddr = device::IPv4FromText(gateway);
    return c;
  };
  engine::DeviceList heard;
  heard.Append(1, device::DeviceEntry{record("192.168.1.10", "255.255.255.0", "192.168.1.1"), 0});
  heard.Append(2, device::DeviceEntry{record("192.168.1.20", "255.255.255.0", "192.168.1.1"), 0});
  const auto problems = [&](const device::NetConfig& c, std::unordered_set<std::uint64_t> moving = {}) {
    return cli::PreWriteProblems(c, 1, heard, moving);
  };
  EXPECT_TRUE(problems(record("192.168.1.10", "255.255.255.0", "192.168.1.1")).empty());  // its own address
  EXPECT_TRUE(problems(record("192.168.1.10", "255.255.255.0", "")).empty());            // no gateway
  EXPECT_TRUE(problems(record("10.0.0.0", "255.255.255.254", "")).empty());              // /31: no network address
  EXPECT_TRUE(problems(record("0.0.0.0", "255.0.255.0", "9.9.9.9", true)).empty());      // automatic addressing
  EXPECT_TRUE(problems(record("192.168.1.20", "255.255.255.0", ""), {2}).empty());       // device 2 moves away

  const auto one = [&](const device::NetConfig& c) {
    const auto p = problems(c);
    return p.size() == 1 ? p[0] : "(" + std::to_string(p.size()) + " problems)";
  };
  EXPECT_EQ(one(record("192.168.1.10", "255.0.255.0", "")), "mask 255.0.255.0 is not contiguous");
  EXPECT_EQ(one(record("192.168.1.10", "255.255.255.0", "192.168.2.1")),
            "gateway 192.168.2.1 is outside the device's subnet 192.168.1.0/24");
  EXPECT_EQ(one(record("192.168.1.0", "255.255.255.0", "")),
            "ip 192.168.1.0 is the network address of its subnet 192.168.1.0/24");
  EXPECT_EQ(one(record("192.168.1.255", "255.255.255.0", "")),
            "ip 192.168.1.255 is the broadcast address of its subnet 192.168.1.0/24");
  EXPECT_EQ(one(record("192.168.1.20", "255.255.255.0", "")),
            "ip 192.168.1.20 is already announced by device 00000000000002");
}

}  // namespace
