// Planning addresses from a range, and apply's report and undo file, without
// the network.
#include <gtest/gtest.h>

#include "cli/assign.h"
#include "cli/plan.h"
#include "cli/report.h"
#include "device/field_table.h"
#include "device/fields.h"

namespace {

std::uint32_t Ip(const char* text) {
  std::uint32_t a = 0;
  EXPECT_TRUE(cli::ParseDottedQuad(text, a)) << text;
  return a;
}

std::vector<std::string> Texts(const std::vector<std::uint32_t>& addresses) {
  std::vector<std::string> texts;
  for (std::uint32_t a : addresses) texts.push_back(cli::DottedQuad(a));
  return texts;
}

TEST(Assign, SkipsTakenAddressesKeepsHeldOnesAndCountsWhatIsMissing) {
  const std::uint32_t mask = Ip("255.255.255.0");
  // Three devices in factory state (one address on all), one already in the
  // range, another device and the workstation inside the range too.
  cli::AddressRequest request{Ip("10.0.0.0"), Ip("10.0.0.255"), {}, {}, {}, {}};
  request.current = {Ip("192.168.1.100"), Ip("192.168.1.100"), Ip("10.0.0.7"), Ip("192.168.1.100")};
  request.masks.assign(4, mask);
  request.announced = request.current;
  request.announced.push_back(Ip("10.0.0.2"));  // a device not planned
  request.workstation = {Ip("10.0.0.1"), Ip("127.0.0.1")};
  cli::AddressResult result = cli::AssignAddresses(request);
  ASSERT_TRUE(result.problem.empty()) << result.problem;
  // .0 is the network address, .1 the workstation's, .2 another device's;
  // the third device keeps .7.
  EXPECT_EQ(Texts(result.addresses), (std::vector<std::string>{"10.0.0.3", "10.0.0.4", "10.0.0.7", "10.0.0.5"}));

  // Planning again once the plan is written changes nothing.
  request.current = result.addresses;
  request.announced = request.current;
  request.announced.push_back(Ip("10.0.0.2"));
  EXPECT_EQ(cli::AssignAddresses(request).addresses, request.current);

  // Two devices announcing one address in the range: neither keeps it.
  request.current = {Ip("10.0.0.9"), Ip("10.0.0.9")};
  request.masks.assign(2, mask);
  request.announced = request.current;
  EXPECT_EQ(Texts(cli::AssignAddresses(request).addresses), (std::vector<std::string>{"10.0.0.2", "10.0.0.3"}));

  // The broadcast address is never given; too few free ones: how many are missing.
  request.first = Ip("10.0.0.250");
  request.current.assign(7, Ip("192.168.1.100"));
  request.masks.assign(7, mask);
  request.announced = {Ip("10.0.0.252")};
  result = cli::AssignAddresses(request);
  EXPECT_TRUE(result.addresses.empty());
  EXPECT_EQ(result.missing, 3u);  // .250 .251 .253 .254 free; .252 taken, .255 broadcast
  request.current.resize(4);
  request.masks.resize(4);
  EXPECT_EQ(Texts(cli::AssignAddresses(request).addresses),
            (std::vector<std::string>{"10.0.0.250", "10.0.0.251", "10.0.0.253", "10.0.0.254"}));

  // A range across a subnet boundary, by any device's mask, is refused; a /31
  // has no network or broadcast address of its own; the top of the address
  // space ends the range.
  request = {Ip("10.0.0.200"), Ip("10.0.1.20"), {Ip("192.168.1.100")}, {mask}, {}, {}};
  EXPECT_NE(cli::AssignAddresses(request).problem.find("crosses the boundary of the subnet 10.0.0.0/24"),
            std::string::npos);
  request.masks = {Ip("255.255.0.0")};
  EXPECT_EQ(Texts(cli::AssignAddresses(request).addresses), (std::vector<std::string>{"10.0.0.200"}));
  request = {Ip("10.0.0.4"), Ip("10.0.0.5"), {0, 0}, {Ip("255.255.255.254"), Ip("255.255.255.254")}, {}, {}};
  EXPECT_EQ(Texts(cli::AssignAddresses(request).addresses), (std::vector<std::string>{"10.0.0.4", "10.0.0.5"}));
  request = {Ip("223.255.255.255"), Ip("255.255.255.255"), {0}, {0}, {}, {}};
  request.announced = {};
  EXPECT_EQ(cli::AssignAddresses(request).addresses.size(), 1u);
  request.first = Ip("255.255.255.255");
  request.masks = {Ip("255.255.255.255")};
  EXPECT_EQ(Texts(cli::AssignAddresses(request).addresses), (std::vector<std::string>{"255.255.255.255"}));
}

device::DeviceEntry Entry(const char* ip, const char* name) {
  device::DeviceEntry entry{};
  device::SetFieldText(entry.Config, device::FieldOf("ip"), ip);
  device::SetFieldText(entry.Config, device::FieldOf("mask"), "255.255.255.0");
  device::SetFieldText(entry.Config, device::FieldOf("gateway"), "192.168.1.1");
  device::SetFieldText(entry.Config, device::FieldOf("name"), name);
  return entry;
}

TEST(Report, EveryRowWithFieldsBeforeAndAfterAndAnUndoOfTheConfirmedOnly) {
  const std::string odd = "北区,\"1\"号";
  device::DeviceEntry after = Entry("10.0.0.3", "站1");
  device::SetFieldText(after.Config, device::FieldOf("gateway"), "");  // cleared
  std::vector<cli::Outcome> outcomes = {
      {0x12, "confirmed", 1.5, Entry("192.168.1.100", odd.c_str()), after, "2026-01-31T09:05:00Z"},
      {0x13, "timed out", 30, Entry("192.168.1.101", "乙"), std::nullopt, ""},  // a failed device
      {0x14, "stopped", 2, Entry("192.168.1.102", "丙"), std::nullopt, ""},     // a stopped run
      {0x15, "not heard", 30, std::nullopt, std::nullopt, ""},
  };
  const std::string report = cli::ReportText(outcomes);
  const std::size_t headerEnd = report.find("\r\n");
  EXPECT_EQ(report.substr(0, headerEnd),
            "identity,result,seconds,auto_before,auto_after,ip_before,ip_after,mask_before,mask_after,gateway_before,"
            "gateway_after,dns1_before,dns1_after,dns2_before,dns2_after,server_before,server_after,port_before,"
            "port_after,mac_before,mac_after,name_before,name_after,confirmed_at");
  EXPECT_NE(report.find("00000000000012,confirmed,1.5,off,off,192.168.1.100,10.0.0.3,255.255.255.0,255.255.255.0,"
                        "192.168.1.1,,"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find(",\"北区,\"\"1\"\"号\",站1,2026-01-31T09:05:00Z\r\n"), std::string::npos) << report;
  EXPECT_NE(report.find("\r\n00000000000013,timed out,30.0,off,,192.168.1.101,,"), std::string::npos) << report;
  EXPECT_NE(report.find(",乙,,\r\n00000000000014,stopped,2.0,off,,192.168.1.102,,"), std::string::npos) << report;
  EXPECT_NE(report.find("\r\n00000000000015,not heard,30.0,,,,,,,,,,,,,,,,,,,,,\r\n"), std::string::npos) << report;

  // The undo file: only the confirmed device, only what changed, read back
  // by the plan reader as it stands (a cleared address restored, a name
  // with a comma and quotes).
  std::vector<std::string> skipped;
  const std::string undo = cli::PlanText(cli::UndoRows(outcomes, skipped));
  EXPECT_TRUE(skipped.empty());
  const std::vector<cli::PlanRow> rows = cli::ParsePlan(undo, "undo.csv");
  ASSERT_EQ(rows.size(), 1u) << undo;
  EXPECT_EQ(undo.substr(0, undo.find("\r\n")), "identity,ip,gateway,name");
  EXPECT_EQ(rows[0].ident, 0x12u);
  EXPECT_EQ(rows[0].changes["ip"], std::optional<std::string>("192.168.1.100"));
  EXPECT_EQ(rows[0].changes["gateway"], std::optional<std::string>("192.168.1.1"));
  EXPECT_EQ(rows[0].changes["name"], std::optional<std::string>(odd));
  EXPECT_FALSE(rows[0].changes["mask"].has_value());

  // An address that was not set is cleared again; under automatic
  // addressing only the switch comes back. An undo of a factory state
  // giving one address to several rows is read with --force only.
  outcomes = {{0x12, "confirmed", 1, Entry("192.168.1.100", "a"), Entry("10.0.0.3", "a"), "t"},
              {0x13, "confirmed", 1, Entry("192.168.1.100", "a"), Entry("10.0.0.4", "a"), "t"},
              {0x14, "confirmed", 1, Entry("10.0.0.9", "b"), Entry("10.0.0.9", "b"), "t"}};
  device::SetFieldText(outcomes[0].before->Config, device::FieldOf("dns1"), "");
  device::SetFieldText(outcomes[0].after->Config, device::FieldOf("dns1"), "10.0.0.1");
  device::SetFieldText(outcomes[1].before->Config, device::FieldOf("auto"), "on");
  const std::string factory = cli::PlanText(cli::UndoRows(outcomes, skipped));
  EXPECT_EQ(factory, "identity,auto,ip,dns1\r\n00000000000012,,192.168.1.100,0.0.0.0\r\n00000000000013,on,,\r\n");
  device::SetFieldText(outcomes[1].before->Config, device::FieldOf("auto"), "off");
  const std::string shared = cli::PlanText(cli::UndoRows(outcomes, skipped));
  EXPECT_THROW(cli::ParsePlan(shared, "undo.csv"), std::exception);
  EXPECT_EQ(cli::ParsePlan(shared, "undo.csv", true).size(), 2u);
}

}  // namespace
