#include "cli/doctor.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>
#include <memory>

#include "cli/command.h"
#include "cli/diagnosis.h"
#include "cli/exit_codes.h"
#include "cli/output.h"
#include "cli/platform.h"
#include "cli/session.h"
#include "device/fields.h"
#include "device/protocol.h"
#include "engine/intake.h"
#include "net/inspect.h"

namespace cli {

namespace {

namespace dx = diagnosis;
namespace inspect = net::inspect;
namespace proto = device::protocol;
using Clock = std::chrono::steady_clock;

constexpr int kPollMs = 100;  // how soon Ctrl+C and the clock are noticed

constexpr const char* kFields = R"(
The doctor sends nothing: it listens on every IPv4 adapter that is up, with the
sockets of list, and asks the system about adapters, routes, ports and firewall.

JSON fields (--format json), one object:
  adapters           [{name, addresses ["A.B.C.D/prefix"], kind (loopback|wireless|
                     tunnel|virtual|ethernet|""), broadcast, multicast (announcements
                     heard on it), devices (how many devices)}]
  broadcast_adapter  the adapter a datagram to 255.255.255.255 leaves by when no
                     adapter is named (null: unknown); answers to devices leave
                     by the adapter each was heard on
  multicast_adapter  the adapter the group is joined on by default (null: unknown)
  ports              [{port, family (IPv4|IPv6), free, held_by {program, pid} or null}]
  firewall           not-checked, unknown, off, allowed or blocked
  devices            [{identity, ip, adapter, same_subnet}]
  findings           [{severity (error|warning|info), code, text}]

Finding codes: no-devices, port-in-use, multicast-adapter-mismatch,
device-outside-subnet, duplicate-ip, rp-filter, firewall-blocks,
firewall-unknown, adapter-down-or-missing. Their texts are in
Simplified Chinese when the user's language is Chinese, else in English.

Exit codes: 0 no finding is an error; 5 at least one is; 1, 4 and 130 as for
the other commands.)";

const char* FirewallText(dx::Firewall f) {
  switch (f) {
    case dx::Firewall::NotChecked: return "not-checked";
    case dx::Firewall::Unknown: return "unknown";
    case dx::Firewall::Off: return "off";
    case dx::Firewall::Allowed: return "allowed";
    case dx::Firewall::Blocked: return "blocked";
  }
  return "unknown";
}

std::string AddressList(const dx::Adapter& a) {
  std::string text;
  for (const dx::Subnet& s : a.addresses)
    text += (text.empty() ? "" : " ") + device::IPv4ToText(s.address) + "/" + std::to_string(s.prefix);
  return text;
}

// What one run gathered: the facts for the judgement plus the system's
// adapter indexes and the engine's device list.
struct Run {
  dx::Facts facts;
  std::vector<unsigned> indexes;  // per adapter: the system's interface index
  engine::DeviceList list;
  std::string firewallReason;

  int AdapterAt(unsigned index) const {
    const auto it = std::find(indexes.begin(), indexes.end(), index);
    return index == 0 || it == indexes.end() ? -1 : static_cast<int>(it - indexes.begin());
  }
  int AdapterWith(std::uint32_t address) const {
    for (std::size_t i = 0; i < facts.adapters.size(); ++i)
      for (const dx::Subnet& s : facts.adapters[i].addresses)
        if (s.address == address && address != 0) return static_cast<int>(i);
    return -1;
  }

  void Take(const Datagram& d) {
    const engine::IntakeOutcome outcome = engine::Intake(d.bytes, list);
    if (outcome.result == engine::IntakeResult::Dropped) return;
    if (outcome.result == engine::IntakeResult::NewDevice)
      facts.devices.push_back(dx::Device{list.Text(outcome.index), 0, {}, {}});
    dx::Device& device = facts.devices[static_cast<std::size_t>(outcome.index)];
    device.ip = list.Entry(outcome.index).Config.PAddr;
    const int adapter = AdapterAt(d.arrival.index);
    if (adapter < 0) return;
    dx::Adapter& a = facts.adapters[static_cast<std::size_t>(adapter)];
    std::vector<int>& on = d.via == Via::Broadcast ? device.broadcastOn : device.multicastOn;
    (d.via == Via::Broadcast ? a.broadcast : a.multicast) += 1;
    if (std::find(on.begin(), on.end(), adapter) == on.end()) on.push_back(adapter);
  }
};

void Gather(Run& run, const DoctorOptions& options, bool& interrupted) {
  std::vector<inspect::AdapterInfo> adapters;
  inspect::ListAdapters(adapters);
  for (const inspect::AdapterInfo& info : adapters) {
    dx::Adapter a{info.name, info.kind, {}, info.rpFilter, 0, 0};
    for (const inspect::AdapterAddress& address : info.addresses) a.addresses.push_back({address.address, address.prefix});
    run.facts.adapters.push_back(a);
    run.indexes.push_back(info.index);
  }
  run.facts.seconds = options.seconds;

  SessionOptions sessionOptions;
  sessionOptions.everyAdapter = true;
  Session session(sessionOptions);
  const auto start = Clock::now();
  for (double left = options.seconds; left > 0;
       left = options.seconds - std::chrono::duration<double>(Clock::now() - start).count()) {
    if ((interrupted = Interrupted())) break;
    session.Poll(static_cast<int>(std::ceil(std::min(left * 1000, double{kPollMs}))),
                 [&](const Datagram& d) { run.Take(d); });
  }

  run.facts.broadcastAdapter = run.AdapterWith(inspect::SourceAddressFor(net::sock::kNoAddress, proto::kBroadcastPort));
  run.facts.multicastAdapter = run.AdapterWith(inspect::SourceAddressFor(net::sock::InetAddr(proto::kGroup), proto::kGroupPort));

  struct Wanted {
    net::sock::Family family;
    std::uint16_t port;
  };
  std::vector<Wanted> ports = {{net::sock::Family::IPv4, proto::kBroadcastPort}};
  if (net::sock::OffersIPv6()) ports.push_back({net::sock::Family::IPv6, proto::kBroadcastPort});
  ports.push_back({net::sock::Family::IPv4, proto::kGroupPort});
  for (const Wanted& w : ports) {
    dx::Port port{w.port, w.family == net::sock::Family::IPv6 ? "IPv6" : "IPv4", true, {}, 0};
    for (const Session::BusyPort& busy : session.BusyPorts())
      if (busy.family == w.family && busy.port == w.port) port.free = false;
    if (!port.free) {
      const std::vector<inspect::PortOwner> owners = inspect::PortOwners(w.family, w.port);
      if (!owners.empty()) {
        port.program = owners.front().program;
        port.pid = owners.front().pid;
      }
    }
    run.facts.ports.push_back(port);
  }

  static_assert(static_cast<int>(inspect::FirewallState::Blocked) == static_cast<int>(dx::Firewall::Blocked));
  const inspect::Firewall firewall = inspect::CheckFirewall({"orven-setup.exe", "orven-cli.exe"}, {proto::kBroadcastPort, proto::kGroupPort});
  run.facts.firewall = static_cast<dx::Firewall>(firewall.state);
  run.facts.firewallBlocks = firewall.blockedPrograms;
  run.firewallReason = firewall.reason;
}

// The text report; its lines in the findings' language (column names,
// codes and severities are the JSON's keys and stay as they are).
void WriteText(std::ostream& out, const Run& run, const std::vector<dx::Finding>& findings, dx::Language language) {
  const dx::Facts& f = run.facts;
  const bool zh = language == dx::Language::Chinese;
  const auto say = [zh](const char* english, const char* chinese) { return std::string(zh ? chinese : english); };
  const auto name = [&](int a) {
    return a < 0 ? say("(unknown)", "（未知）") : f.adapters[static_cast<std::size_t>(a)].name;
  };
  std::vector<Row> rows;
  for (std::size_t i = 0; i < f.adapters.size(); ++i) {
    const dx::Adapter& a = f.adapters[i];
    std::string rp = a.rpFilter < 0 ? "" : std::to_string(a.rpFilter);
    rows.push_back({{"", a.name}, {"", a.kind}, {"", AddressList(a)}, {"", std::to_string(a.broadcast)},
                    {"", std::to_string(a.multicast)}, {"", std::to_string(dx::DevicesOn(f, static_cast<int>(i)))},
                    {"", rp}});
  }
  out << say("Adapters (listened ", "网络适配器（监听 ") << f.seconds << say(" s):\n", " 秒）：\n");
  WriteTable(out, {"adapter", "kind", "addresses", "broadcast", "multicast", "devices", "rp_filter"}, rows);
  out << say("\nBroadcasts to 255.255.255.255 leave by default by: ", "\n发往 255.255.255.255 的广播默认从此发出：")
      << name(f.broadcastAdapter)
      << say(" (answers to a device leave by the adapter it was heard on)\n", "（对设备的应答从收到它的适配器发出）\n")
      << say("The group ", "默认加入组 ") << proto::kGroup << say(" is joined by default on: ", " 的适配器：")
      << name(f.multicastAdapter) << "\n\n";
  rows.clear();
  for (const dx::Port& p : f.ports) {
    const std::string program = p.program.empty() ? std::string("?") : p.program;
    std::string holder = p.free       ? say("free", "空闲")
                         : p.pid == 0 ? say("held (the system does not say by whom)", "已占用（系统未说明占用者）")
                                      : say("held by ", "被 ") + program + say(" (pid ", "（进程 ") +
                                            std::to_string(p.pid) + say(")", "）占用");
    rows.push_back({{"", "UDP " + std::to_string(p.port)}, {"", p.family}, {"", holder}});
  }
  WriteTable(out, {"port", "family", "state"}, rows);
  out << say("\nFirewall: ", "\n防火墙：") << FirewallText(f.firewall);
  if (!run.firewallReason.empty()) out << " (" << run.firewallReason << ")";
  for (const std::string& p : f.firewallBlocks) out << say("; no inbound rule for ", "；没有入站规则允许 ") << p;
  out << "\n\n";
  rows.clear();
  for (const dx::Device& d : f.devices) {
    const int a = d.Adapter();
    std::string where;
    for (const auto* on : {&d.broadcastOn, &d.multicastOn})
      for (int i : *on)
        if (where.find(name(i)) == std::string::npos) where += (where.empty() ? "" : " ") + name(i);
    const bool same = a >= 0 && dx::InSubnet(d.ip, f.adapters[static_cast<std::size_t>(a)]);
    rows.push_back({{"", d.identity}, {"", device::IPv4ToText(d.ip)}, {"", where}, {"", same ? say("yes", "是") : say("no", "否")}});
  }
  out << say("Devices heard: ", "收到的设备：") << f.devices.size() << '\n';
  if (!rows.empty()) WriteTable(out, {"identity", "ip", "heard on", "same subnet"}, rows);
  out << say("\nFindings:\n", "\n诊断结果：\n");
  if (findings.empty()) out << say("  none\n", "  无\n");
  for (const dx::Finding& finding : findings)
    out << "  " << finding.severity << "  " << finding.code << "  " << finding.text << '\n';
}

void WriteJsonReport(std::ostream& out, const Run& run, const std::vector<dx::Finding>& findings) {
  using Json = nlohmann::ordered_json;
  const dx::Facts& f = run.facts;
  const auto name = [&](int a) { return a < 0 ? Json(nullptr) : Json(f.adapters[static_cast<std::size_t>(a)].name); };
  Json doc = Json::object();
  Json adapters = Json::array();
  for (std::size_t i = 0; i < f.adapters.size(); ++i) {
    const dx::Adapter& a = f.adapters[i];
    Json addresses = Json::array();
    for (const dx::Subnet& s : a.addresses) addresses.push_back(device::IPv4ToText(s.address) + "/" + std::to_string(s.prefix));
    adapters.push_back({{"name", a.name}, {"addresses", addresses}, {"kind", a.kind}, {"broadcast", a.broadcast},
                        {"multicast", a.multicast}, {"devices", dx::DevicesOn(f, static_cast<int>(i))}});
  }
  doc["adapters"] = adapters;
  doc["broadcast_adapter"] = name(f.broadcastAdapter);
  doc["multicast_adapter"] = name(f.multicastAdapter);
  Json ports = Json::array();
  for (const dx::Port& p : f.ports)
    ports.push_back({{"port", p.port}, {"family", p.family}, {"free", p.free},
                     {"held_by", p.free ? Json(nullptr) : Json{{"program", p.program}, {"pid", p.pid}}}});
  doc["ports"] = ports;
  doc["firewall"] = FirewallText(f.firewall);
  Json devices = Json::array();
  for (const dx::Device& d : f.devices) {
    const int a = d.Adapter();
    devices.push_back({{"identity", d.identity}, {"ip", device::IPv4ToText(d.ip)}, {"adapter", name(a)},
                       {"same_subnet", a >= 0 && dx::InSubnet(d.ip, f.adapters[static_cast<std::size_t>(a)])}});
  }
  doc["devices"] = devices;
  Json list = Json::array();
  for (const dx::Finding& finding : findings)
    list.push_back({{"severity", finding.severity}, {"code", finding.code}, {"text", finding.text}});
  doc["findings"] = list;
  out << doc.dump(2, ' ', false, Json::error_handler_t::replace) << '\n';
}

}  // namespace

int RunDoctor(const DoctorOptions& options) {
  Run run;
  bool interrupted = false;
  Gather(run, options, interrupted);
  const dx::Language language = UserLanguageIsChinese() ? dx::Language::Chinese : dx::Language::English;
  const std::vector<dx::Finding> findings = dx::Diagnose(run.facts, language);
  if (options.format == "json")
    WriteJsonReport(std::cout, run, findings);
  else
    WriteText(std::cout, run, findings, language);
  std::cout.flush();
  if (interrupted) return kExitStopped;
  const bool anError =
      std::any_of(findings.begin(), findings.end(), [](const dx::Finding& f) { return f.severity == "error"; });
  return anError ? kExitProblem : kExitSuccess;
}

void SetUpDoctor(CLI::App& app, Common& common) {
  auto options = std::make_shared<DoctorOptions>();
  CLI::App* doctor =
      app.add_subcommand("doctor", "listen on every adapter and say why devices are not heard or not reached (sends nothing)");
  doctor->footer(kFields);
  AddSecondsOption(doctor, options->seconds);
  AddFormatOption(doctor, options->format, {"text", "json"});
  OnRun(doctor, common, [options] { return RunDoctor(*options); });
}

}  // namespace cli
