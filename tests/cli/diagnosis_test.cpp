// The doctor's judgement, from facts to findings, without the system.
#include <gtest/gtest.h>

#include "cli/diagnosis.h"
#include "device/fields.h"

namespace {

using namespace cli::diagnosis;

std::uint32_t Ip(const char* text) { return device::IPv4FromText(text); }

Adapter Nic(const char* name, const char* kind, std::vector<Subnet> subnets) {
  Adapter a;
  a.name = name;
  a.kind = kind;
  a.addresses = std::move(subnets);
  return a;
}

Port Held(std::uint16_t number, const char* family, bool free = true, const char* program = "", long pid = 0) {
  return Port{number, family, free, program, pid};
}

// A laptop: loopback, wired 10.0.0.5/24 (by which broadcasts leave and the
// group is joined), Wi-Fi 192.168.8.20/24; UDP 60080 and 60081 free.
Facts Laptop() {
  Facts f;
  f.seconds = 5;
  f.adapters = {Nic("lo", "loopback", {{Ip("127.0.0.1"), 8}}), Nic("eth0", "ethernet", {{Ip("10.0.0.5"), 24}}),
                Nic("wlan0", "wireless", {{Ip("192.168.8.20"), 24}})};
  f.broadcastAdapter = f.multicastAdapter = 1;
  f.ports = {Held(60080, "IPv4"), Held(60080, "IPv6"), Held(60081, "IPv4")};
  return f;
}

const Finding* Find(const std::vector<Finding>& findings, const std::string& code) {
  for (const Finding& f : findings)
    if (f.code == code) return &f;
  return nullptr;
}

std::vector<std::string> Codes(const std::vector<Finding>& findings) {
  std::vector<std::string> codes;
  for (const Finding& f : findings) codes.push_back(f.code);
  return codes;
}

TEST(Diagnosis, AdaptersPortsAndNothingHeard) {
  Facts f = Laptop();
  f.devices = {{"01", Ip("10.0.0.7"), {1}, {1}}};
  EXPECT_TRUE(Diagnose(f, Language::English).empty()) << "a healthy laptop has nothing to say";

  f.adapters.resize(1);  // loopback alone
  f.broadcastAdapter = f.multicastAdapter = 0;
  f.devices.clear();
  f.ports = {Held(60080, "IPv4", false, "orven-setup.exe", 4242), Held(60080, "IPv6", false, "nc", 77),
             Held(60081, "IPv4", false)};
  const std::vector<Finding> found = Diagnose(f, Language::English);
  EXPECT_EQ(Codes(found), (std::vector<std::string>{"adapter-down-or-missing", "port-in-use", "port-in-use",
                                                    "port-in-use", "no-devices"}));
  EXPECT_NE(found[1].text.find("Close the window first"), std::string::npos) << found[1].text;
  EXPECT_NE(found[1].text.find("4242"), std::string::npos);
  EXPECT_NE(found[2].text.find("nc (process 77)"), std::string::npos) << found[2].text;
  EXPECT_NE(found[3].text.find("does not name"), std::string::npos) << found[3].text;
  EXPECT_NE(found[4].text.find("in 5 seconds"), std::string::npos) << found[4].text;
  for (const Finding& x : found) EXPECT_EQ(x.severity, "error");
}

TEST(Diagnosis, DevicesOnAnotherAdapterThanTheSystemPicks) {
  Facts f = Laptop();
  f.devices = {{"0A", Ip("192.168.8.50"), {2}, {2}},  // on Wi-Fi only, both paths
               {"0B", Ip("192.168.8.51"), {2}, {}},   // on Wi-Fi only, broadcast
               {"0C", Ip("10.0.0.9"), {1, 2}, {2}}};  // also on the wired adapter
  // Answers leave through the adapter a device was heard on, so broadcasts
  // leaving by eth0 harm no write: only the group, joined on eth0 alone,
  // misses the Wi-Fi devices' announcements.
  std::vector<Finding> found = Diagnose(f, Language::English);
  ASSERT_EQ(Codes(found), std::vector<std::string>{"multicast-adapter-mismatch"});
  EXPECT_EQ(found[0].severity, "warning");
  EXPECT_EQ(found[0].text.rfind("2 device(s) sent to the group 230.1.1.100 on wlan0, but the window joins it on eth0", 0), 0u)
      << found[0].text;
  EXPECT_EQ(DevicesOn(f, 2), 3);
  EXPECT_EQ(DevicesOn(f, 1), 1);

  f.broadcastAdapter = f.multicastAdapter = -1;  // the system would not say: no guess
  EXPECT_TRUE(Diagnose(f, Language::English).empty());
  f.broadcastAdapter = f.multicastAdapter = 2;
  EXPECT_TRUE(Diagnose(f, Language::English).empty()) << "every device is heard where the window joins";
}

TEST(Diagnosis, DuplicateAddressesAndSubnets) {
  Facts f = Laptop();
  f.devices = {{"01", Ip("10.0.0.7"), {1}, {}},
               {"02", Ip("10.0.0.7"), {1}, {}},
               {"03", Ip("169.254.3.3"), {1}, {}},  // factory address, outside eth0's subnet
               {"04", 0, {1}, {}},                  // no address: neither duplicate nor outside
               {"05", 0, {1}, {}},
               {"06", Ip("192.168.1.9"), {0}, {}}};  // heard by loopback (a simulator): not judged
  f.broadcastAdapter = f.multicastAdapter = -1;
  const std::vector<Finding> found = Diagnose(f, Language::English);
  ASSERT_EQ(Codes(found), (std::vector<std::string>{"duplicate-ip", "device-outside-subnet"}));
  EXPECT_NE(found[0].text.find("01, 02 all announce 10.0.0.7"), std::string::npos) << found[0].text;
  EXPECT_NE(found[1].text.find("Device 03 announces 169.254.3.3, outside the subnets of eth0 (10.0.0.5/24)"),
            std::string::npos)
      << found[1].text;

  const Adapter edges = Nic("x", "", {{Ip("10.1.2.3"), 32}, {Ip("172.16.0.1"), 12}});
  EXPECT_TRUE(InSubnet(Ip("10.1.2.3"), edges));
  EXPECT_FALSE(InSubnet(Ip("10.1.2.4"), edges));
  EXPECT_TRUE(InSubnet(Ip("172.31.255.255"), edges));
  EXPECT_FALSE(InSubnet(Ip("172.32.0.0"), edges));
  EXPECT_TRUE(InSubnet(Ip("8.8.8.8"), Nic("any", "", {{Ip("10.0.0.1"), 0}})));
}

TEST(Diagnosis, StrictReversePathFilteringAndFirewall) {
  Facts f = Laptop();
  f.adapters[1].rpFilter = 1;  // strict, a device outside its subnet heard
  f.adapters[2].rpFilter = 1;  // strict, nothing heard on it
  f.adapters[0].rpFilter = 1;  // loopback: never judged
  f.devices = {{"01", Ip("192.168.1.100"), {1}, {}}};
  std::vector<Finding> found = Diagnose(f, Language::English);
  ASSERT_EQ(Codes(found), (std::vector<std::string>{"device-outside-subnet", "rp-filter", "rp-filter"}));
  EXPECT_NE(found[1].text.find("net.ipv4.conf.eth0.rp_filter=2"), std::string::npos) << found[1].text;
  EXPECT_EQ(found[2].text.rfind("wlan0", 0), 0u);

  f.devices = {{"01", Ip("10.0.0.100"), {1}, {}}};
  f.adapters[2].rpFilter = 2;  // loose: fine
  EXPECT_TRUE(Diagnose(f, Language::English).empty()) << "strict filtering harms no device inside the subnet";

  f.firewall = Firewall::Blocked;
  f.firewallBlocks = {"orven-setup.exe", "orven-cli.exe"};
  found = Diagnose(f, Language::English);
  ASSERT_EQ(Codes(found), std::vector<std::string>{"firewall-blocks"});
  EXPECT_EQ(found[0].severity, "error");
  EXPECT_NE(found[0].text.find("allows orven-setup.exe, orven-cli.exe UDP 60080 and 60081"), std::string::npos);
  f.firewall = Firewall::Unknown;
  found = Diagnose(f, Language::English);
  ASSERT_EQ(Codes(found), std::vector<std::string>{"firewall-unknown"});
  EXPECT_EQ(found[0].severity, "info");
  for (Firewall quiet : {Firewall::Off, Firewall::Allowed, Firewall::NotChecked}) {
    f.firewall = quiet;
    EXPECT_TRUE(Diagnose(f, Language::English).empty());
  }
}

TEST(Diagnosis, ChineseTextsAndSeverityOrder) {
  Facts f = Laptop();
  f.firewall = Firewall::Unknown;
  f.devices = {{"01", Ip("192.168.1.100"), {2}, {}},  // on Wi-Fi, outside its subnet
               {"02", Ip("192.168.1.100"), {2}, {}}};
  const std::vector<Finding> zh = Diagnose(f, Language::Chinese);
  const std::vector<Finding> en = Diagnose(f, Language::English);
  ASSERT_EQ(Codes(zh), (std::vector<std::string>{"duplicate-ip", "device-outside-subnet", "device-outside-subnet",
                                                 "firewall-unknown"}));
  EXPECT_EQ(Codes(en), Codes(zh));
  EXPECT_EQ(zh[0].text.rfind("设备 01、02 都使用地址 192.168.1.100", 0), 0u) << zh[0].text;
  EXPECT_NE(zh[1].text.find("不在 wlan0 的子网"), std::string::npos) << zh[1].text;
  EXPECT_NE(zh[3].text.find("防火墙"), std::string::npos);
  EXPECT_EQ(zh[1].severity, "warning");  // severities and codes are not translated
  EXPECT_NE(Find(zh, "firewall-unknown"), nullptr);
}

}  // namespace
