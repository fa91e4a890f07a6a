#include "network_check.h"

#include "net/inspect.h"

namespace devsim {

namespace {

bool IsLoopback(const net::inspect::AdapterInfo& adapter) {
  if (adapter.kind == "loopback") return true;
  for (const net::inspect::AdapterAddress& a : adapter.addresses) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&a.address);  // network order
    if (bytes[0] != 127) return false;
  }
  return !adapter.addresses.empty();
}

std::string Joined(const std::vector<std::string>& names, const char* separator) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : separator) + name;
  return text;
}

}  // namespace

NetworkCheck CheckNetwork() {
  NetworkCheck check;
  std::vector<net::inspect::AdapterInfo> adapters;
  check.listed = net::inspect::ListAdapters(adapters);
  for (const net::inspect::AdapterInfo& adapter : adapters)
    if (!IsLoopback(adapter)) check.others.push_back(adapter.name);
  return check;
}

std::string RefusalText(const NetworkCheck& check, bool userIsChinese) {
  std::string text;
  if (!check.listed) {
    text = "orven-devsim: 无法列出本机的网络适配器，不能确认本机不在真实网络上，因此不发送模拟设备。\n"
           "只有在专供培训的网络上才加 --real-network 选项运行。\n";
    if (!userIsChinese)
      text += "orven-devsim: the network adapters could not be listed, so this may be a real network: "
              "no simulated devices are announced.\n"
              "Only on a network set aside for training, run it with --real-network.\n";
    return text;
  }
  text = "orven-devsim: 本机除回环外还有已启用的网络适配器（" + Joined(check.others, "、") +
         "），这可能是现场的真实网络，因此不发送模拟设备：\n"
         "模拟设备会出现在该网络上每一台设置程序的设备列表中，并应答对它们的写入。\n"
         "只有在专供培训的网络上才加 --real-network 选项运行。\n";
  if (!userIsChinese)
    text += "orven-devsim: an adapter other than loopback is up (" + Joined(check.others, ", ") +
            "): this may be a site's real network, so no simulated devices are announced; they would show in "
            "every technician's tool there and answer their writes.\n"
            "Only on a network set aside for training, run it with --real-network.\n";
  return text;
}

}  // namespace devsim
