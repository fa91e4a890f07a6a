#include "cli/diagnosis.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace cli::diagnosis {

namespace {

std::string Dotted(std::uint32_t networkOrder) {
  unsigned char b[4];
  std::memcpy(b, &networkOrder, 4);
  return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
}

std::uint32_t HostOrder(std::uint32_t networkOrder) {
  unsigned char b[4];
  std::memcpy(b, &networkOrder, 4);
  return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
}

std::string Subnets(const Adapter& adapter) {
  std::string text;
  for (const Subnet& s : adapter.addresses)
    text += (text.empty() ? "" : ", ") + Dotted(s.address) + "/" + std::to_string(s.prefix);
  return text;
}

bool Heard(const std::vector<int>& on, int adapter) { return std::find(on.begin(), on.end(), adapter) != on.end(); }

class Writer {
 public:
  Writer(const Facts& facts, Language language) : facts_(facts), zh_(language == Language::Chinese) {}

  void Add(const char* severity, const char* code, const std::string& english, const std::string& chinese) {
    findings_.push_back({severity, code, zh_ ? chinese : english});
  }
  std::string Name(int adapter) const {
    return adapter >= 0 && adapter < static_cast<int>(facts_.adapters.size())
               ? facts_.adapters[static_cast<std::size_t>(adapter)].name
               : std::string("?");
  }
  std::string Join(const std::vector<std::string>& items) const {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : zh_ ? "、" : ", ") + item;
    return text;
  }
  std::string Names(const std::vector<int>& adapters) const {
    std::vector<std::string> names;
    for (int a : adapters) names.push_back(Name(a));
    return Join(names);
  }
  std::vector<Finding> Take() {
    std::stable_sort(findings_.begin(), findings_.end(), [](const Finding& a, const Finding& b) {
      const auto rank = [](const std::string& s) { return s == "error" ? 0 : s == "warning" ? 1 : 2; };
      return rank(a.severity) < rank(b.severity);
    });
    return std::move(findings_);
  }

 private:
  const Facts& facts_;
  bool zh_;
  std::vector<Finding> findings_;
};

std::string Seconds(double seconds) {
  std::string text = std::to_string(seconds);
  text.erase(text.find_last_not_of('0') + 1);
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

}  // namespace

int Device::Adapter() const {
  if (!broadcastOn.empty()) return broadcastOn.front();
  return multicastOn.empty() ? -1 : multicastOn.front();
}

bool InSubnet(std::uint32_t address, const Adapter& adapter) {
  for (const Subnet& s : adapter.addresses) {
    const std::uint32_t mask = s.prefix <= 0 ? 0 : s.prefix >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> s.prefix);
    if ((HostOrder(address) & mask) == (HostOrder(s.address) & mask)) return true;
  }
  return false;
}

int DevicesOn(const Facts& facts, int adapter) {
  return static_cast<int>(std::count_if(facts.devices.begin(), facts.devices.end(), [&](const Device& d) {
    return Heard(d.broadcastOn, adapter) || Heard(d.multicastOn, adapter);
  }));
}

std::vector<Finding> Diagnose(const Facts& facts, Language language) {
  Writer w(facts, language);
  const int adapterCount = static_cast<int>(facts.adapters.size());

  if (std::none_of(facts.adapters.begin(), facts.adapters.end(), [](const Adapter& a) { return a.kind != "loopback"; }))
    w.Add("error", "adapter-down-or-missing",
          "No network adapter besides loopback is up. Plug in the cable to the devices' network (or switch the "
          "adapter on) and run the doctor again.",
          "除回环接口外没有已启用的网络适配器。请接好通往设备网络的网线（或启用该适配器）后再运行一次诊断。");

  for (const Port& p : facts.ports) {
    if (p.free) continue;
    const std::string port = "UDP " + std::to_string(p.port) + " (" + p.family + ")";
    const bool window = p.program.rfind("orven-setup", 0) == 0;
    if (p.pid != 0 && window)
      w.Add("error", "port-in-use",
            port + " is held by the window orven-setup (process " + std::to_string(p.pid) +
                "). Close the window first, then run the doctor again.",
            port + " 被设置程序窗口 orven-setup（进程 " + std::to_string(p.pid) + "）占用。请先关闭该窗口，再运行诊断。");
    else if (p.pid != 0)
      w.Add("error", "port-in-use",
            port + " is held by " + (p.program.empty() ? "a program" : p.program) + " (process " +
                std::to_string(p.pid) + "). The window cannot start while it runs: close that program.",
            port + " 被 " + (p.program.empty() ? "某个程序" : p.program) + "（进程 " + std::to_string(p.pid) +
                "）占用，设置程序窗口无法启动。请关闭该程序。");
    else
      w.Add("error", "port-in-use",
            port + " is held by another program that the system does not name (it may take administrator rights "
                   "to see it). The window cannot start while it runs.",
            port + " 被另一个程序占用，系统未说明是哪个（可能需要管理员权限才能查看）。该程序运行期间设置程序窗口无法启动。");
  }

  if (facts.devices.empty())
    w.Add("error", "no-devices",
          "No device was heard in " + Seconds(facts.seconds) +
              " seconds. Check that the devices are powered and cabled to this computer's network, and see the "
              "other findings.",
          std::string("在 ") + Seconds(facts.seconds) + " 秒内没有收到任何设备的广播。请检查设备是否通电、网线是否接到本机所在的网络，并参看其他诊断结果。");

  // Where broadcasts to 255.255.255.255 leave by default is no finding:
  // the window and orven-cli answer each device through the adapter it was
  // heard on, whichever holds the route.

  if (facts.multicastAdapter >= 0) {
    std::vector<int> adapters;
    int count = 0;
    for (const Device& d : facts.devices) {
      if (d.multicastOn.empty() || Heard(d.multicastOn, facts.multicastAdapter)) continue;
      ++count;
      for (int a : d.multicastOn)
        if (!Heard(adapters, a)) adapters.push_back(a);
    }
    if (count > 0) {
      const std::string mc = w.Name(facts.multicastAdapter);
      w.Add("warning", "multicast-adapter-mismatch",
            std::to_string(count) + " device(s) sent to the group 230.1.1.100 on " + w.Names(adapters) +
                ", but the window joins it on " + mc + " only: it hears them by broadcast alone. Make " +
                w.Names(adapters) + " the adapter with the default route to hear both.",
            std::to_string(count) + " 台设备在 " + w.Names(adapters) + " 上发送组播 230.1.1.100，而设置程序只在 " + mc +
                " 上加入该组：只能收到它们的广播。请让 " + w.Names(adapters) + " 承载默认路由，以便两种方式都能收到。");
    }
  }

  std::map<std::uint32_t, std::vector<std::string>> byIp;
  for (const Device& d : facts.devices)
    if (d.ip != 0) byIp[d.ip].push_back(d.identity);
  for (const auto& [ip, identities] : byIp) {
    if (identities.size() < 2) continue;
    const std::string list = w.Join(identities);
    w.Add("error", "duplicate-ip",
          "Devices " + list + " all announce " + Dotted(ip) +
              ". Give each its own address (orven-cli set IDENT --ip ...) before relying on it.",
          "设备 " + list + " 都使用地址 " + Dotted(ip) + "。请为每台设备设置不同的地址（orven-cli set 标识 --ip ...）。");
  }

  for (const Device& d : facts.devices) {
    const int a = d.Adapter();
    if (a < 0 || a >= adapterCount || d.ip == 0) continue;
    const Adapter& adapter = facts.adapters[static_cast<std::size_t>(a)];
    if (adapter.kind == "loopback" || InSubnet(d.ip, adapter)) continue;
    w.Add("warning", "device-outside-subnet",
          "Device " + d.identity + " announces " + Dotted(d.ip) + ", outside the subnets of " + adapter.name + " (" +
              Subnets(adapter) + "). The window can still write it by broadcast; give the device an address in "
              "that subnet, or give the adapter a second address in the device's subnet.",
          "设备 " + d.identity + " 的地址 " + Dotted(d.ip) + " 不在 " + adapter.name + " 的子网（" + Subnets(adapter) +
              "）内。仍可通过广播写入；请给它设置该子网内的地址，或给适配器添加其所在子网的地址。");
  }

  for (int a = 0; a < adapterCount; ++a) {
    const Adapter& adapter = facts.adapters[static_cast<std::size_t>(a)];
    if (adapter.rpFilter != 1 || adapter.kind == "loopback") continue;
    const bool outside = std::any_of(facts.devices.begin(), facts.devices.end(), [&](const Device& d) {
      return d.Adapter() == a && d.ip != 0 && !InSubnet(d.ip, adapter);
    });
    if (!outside && DevicesOn(facts, a) > 0) continue;
    w.Add("warning", "rp-filter",
          adapter.name + " filters by reverse path strictly (rp_filter=1): datagrams from devices with addresses "
                         "outside its subnets are dropped before any program sees them. Loosen it as root: sysctl -w "
                         "net.ipv4.conf." + adapter.name + ".rp_filter=2",
          adapter.name + " 启用了严格的反向路径过滤（rp_filter=1）：地址不在其子网内的设备发来的数据包会在任何程序收到之前被丢弃。请以 root 身份放宽：sysctl -w net.ipv4.conf." +
              adapter.name + ".rp_filter=2");
  }

  if (facts.firewall == Firewall::Blocked) {
    const std::string programs = w.Join(facts.firewallBlocks);
    w.Add("error", "firewall-blocks",
          "The Windows firewall is on and no inbound rule allows " + programs +
              " UDP 60080 and 60081: the announcements are dropped. Allow the program(s) in the firewall "
              "(\"Allow an app through Windows Firewall\").",
          "Windows 防火墙已开启，且没有允许 " + programs + " 接收 UDP 60080 和 60081 的入站规则：设备广播被拦截。请在防火墙中允许该程序（“允许应用通过 Windows 防火墙”）。");
  } else if (facts.firewall == Firewall::Unknown) {
    w.Add("info", "firewall-unknown",
          "Whether the firewall lets the announcements in could not be found out here. If the window lists no "
          "device, allow orven-setup.exe UDP 60080 and 60081 inbound.",
          "无法在此查明防火墙是否放行设备广播。如果设置程序列不出设备，请允许 orven-setup.exe 入站接收 UDP 60080 和 60081。");
  }
  return w.Take();
}

}  // namespace cli::diagnosis
