#include "options.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace devsim {
namespace {

bool parseUnsigned(const std::string& text, int base, std::uint64_t& value) {
  if (text.empty()) return false;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    first += 2;
  const auto [ptr, ec] = std::from_chars(first, last, value, base);
  return ec == std::errc() && ptr == last && first != last;
}

bool parseNumber(const std::string& name, const std::string& text, std::uint64_t min,
                 std::uint64_t max, std::uint64_t& value, std::string& error) {
  if (!parseUnsigned(text, 10, value) || value < min || value > max) {
    error = "option " + name + ": expected a whole number from " + std::to_string(min) + " to " +
            std::to_string(max) + ", got '" + text + "'";
    return false;
  }
  return true;
}

// "all", or a comma-separated list of indices and ranges such as "0,3,5-9".
bool parseIndexList(const std::string& text, Options& options, std::string& error) {
  if (text == "all") {
    options.ignoreAllSets = true;
    return true;
  }
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const std::size_t comma = std::min(text.find(',', pos), text.size());
    const std::string item = text.substr(pos, comma - pos);
    const std::size_t dash = item.find('-');
    std::uint64_t from = 0;
    std::uint64_t to = 0;
    bool ok;
    if (dash == std::string::npos) {
      ok = parseUnsigned(item, 10, from);
      to = from;
    } else {
      ok = parseUnsigned(item.substr(0, dash), 10, from) &&
           parseUnsigned(item.substr(dash + 1), 10, to) && from <= to;
    }
    if (!ok || to >= kMaxDevices) {
      error = "option --ignore-sets: bad item '" + item + "' (expected 'all' or indices like 0,3,5-9)";
      return false;
    }
    for (std::uint64_t i = from; i <= to; ++i) options.ignoreSets.push_back(static_cast<std::size_t>(i));
    pos = comma + 1;
  }
  std::sort(options.ignoreSets.begin(), options.ignoreSets.end());
  options.ignoreSets.erase(std::unique(options.ignoreSets.begin(), options.ignoreSets.end()),
                           options.ignoreSets.end());
  return true;
}

}  // namespace

const char* modeName(Mode mode) {
  switch (mode) {
    case Mode::Broadcast: return "broadcast";
    case Mode::Multicast: return "multicast";
    case Mode::Both: break;
  }
  return "both";
}

std::uint64_t effectiveIdentBase(const Options& options) {
  if (!options.ffIdents) return options.identBase;
  if (!options.identBaseGiven) return kDefaultFfIdentBase;
  // Top byte of a 14-digit identity set to FF.
  return (options.identBase & 0x0000FFFFFFFFFFFFULL) | 0x00FF000000000000ULL;
}

std::optional<Options> parseOptions(const std::vector<std::string>& args, std::string& error) {
  Options options;
  const std::uint64_t u32max = std::numeric_limits<std::uint32_t>::max();
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (const std::size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = name.substr(eq + 1);
      name.resize(eq);
    }
    const auto flag = [&](bool& target) {
      if (inlineValue) {
        error = "option " + name + " takes no value";
        return false;
      }
      target = true;
      return true;
    };
    std::string value;
    const auto takeValue = [&]() {
      if (inlineValue) {
        value = *inlineValue;
        return true;
      }
      if (i + 1 >= args.size()) {
        error = "option " + name + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    std::uint64_t number = 0;
    if (name == "--help" || name == "-h") {
      if (!flag(options.help)) return std::nullopt;
    } else if (name == "--devices") {
      if (!takeValue() || !parseNumber(name, value, 1, kMaxDevices, number, error)) return std::nullopt;
      options.devices = static_cast<std::size_t>(number);
    } else if (name == "--interval-ms") {
      if (!takeValue() || !parseNumber(name, value, 1, 3600000, number, error)) return std::nullopt;
      options.intervalMs = static_cast<std::uint32_t>(number);
    } else if (name == "--mode") {
      if (!takeValue()) return std::nullopt;
      if (value == "broadcast") options.mode = Mode::Broadcast;
      else if (value == "multicast") options.mode = Mode::Multicast;
      else if (value == "both") options.mode = Mode::Both;
      else {
        error = "option --mode: expected broadcast, multicast or both, got '" + value + "'";
        return std::nullopt;
      }
    } else if (name == "--port") {
      if (!takeValue() || !parseNumber(name, value, 0, 65535, number, error)) return std::nullopt;
      options.port = static_cast<std::uint16_t>(number);
    } else if (name == "--ident-base") {
      if (!takeValue()) return std::nullopt;
      if (!parseUnsigned(value, 16, number)) {
        error = "option --ident-base: expected a hexadecimal number, got '" + value + "'";
        return std::nullopt;
      }
      options.identBase = number;
      options.identBaseGiven = true;
    } else if (name == "--ff-idents") {
      if (!flag(options.ffIdents)) return std::nullopt;
    } else if (name == "--format-flag") {
      if (!takeValue() || !parseNumber(name, value, 0, 255, number, error)) return std::nullopt;
      options.formatFlag = static_cast<std::uint8_t>(number);
    } else if (name == "--ignore-sets") {
      if (!takeValue() || !parseIndexList(value, options, error)) return std::nullopt;
    } else if (name == "--apply-delay-ms") {
      if (!takeValue() || !parseNumber(name, value, 0, 3600000, number, error)) return std::nullopt;
      options.applyDelayMs = static_cast<std::uint32_t>(number);
    } else if (name == "--auto-addresses") {
      if (!flag(options.autoAddresses)) return std::nullopt;
    } else if (name == "--count") {
      if (!takeValue() || !parseNumber(name, value, 1, u32max, number, error)) return std::nullopt;
      options.count = number;
    } else if (name == "--duration-ms") {
      if (!takeValue() || !parseNumber(name, value, 0, 1000ULL * u32max, number, error)) return std::nullopt;
      options.durationMs = number;
    } else if (name == "--quiet") {
      if (!flag(options.quiet)) return std::nullopt;
    } else if (name == "--bind-lo") {
      if (!flag(options.bindLoopback)) return std::nullopt;
    } else {
      error = "unknown option '" + args[i] + "' (see --help)";
      return std::nullopt;
    }
  }
  if (!options.ignoreSets.empty() && options.ignoreSets.back() >= options.devices) {
    error = "option --ignore-sets: device index " + std::to_string(options.ignoreSets.back()) +
            " out of range (there are " + std::to_string(options.devices) + " devices)";
    return std::nullopt;
  }
  const std::uint64_t base = effectiveIdentBase(options);
  const std::uint64_t last = base + (options.devices - 1);
  if (last < base) {
    error = "option --ident-base: identities would wrap past FFFFFFFFFFFFFFFF";
    return std::nullopt;
  }
  if (options.ffIdents && (last >> 48) != 0xFF) {
    error = "option --ff-idents: identities would leave the FF.. range; choose a lower --ident-base";
    return std::nullopt;
  }
  return options;
}

std::string helpText() {
  return
      "usage: orven-devsim [OPTION...]\n"
      "Plays simulated devices: announces them over UDP and applies configuration-set packets.\n"
      "Run it only inside tools/isolated-net: it broadcasts and sends to a multicast group.\n"
      "\n"
      "  --devices N          number of devices, 1-64000 (default 4)\n"
      "  --interval-ms MS     each device announces once per interval, the devices spread\n"
      "                       evenly over it (default 1000)\n"
      "  --mode M             broadcast (255.255.255.255:60080), multicast (230.1.1.100:60081)\n"
      "                       or both (default both)\n"
      "  --port P             source UDP port shared by all devices; 0 = system-chosen (default 0)\n"
      "  --ident-base HEX     identity of device 0; device i has base+i (default 0012AB34CD5600)\n"
      "  --ff-idents          identities with top byte FF (default base FF0012AB34CD56; with\n"
      "                       --ident-base, its top byte of 14 digits is replaced by FF)\n"
      "  --format-flag B      byte 2 of every packet, normally 0 or 1 (default 0)\n"
      "  --ignore-sets LIST   devices that ignore configuration-set packets: 'all' or indices\n"
      "                       and ranges such as 0,3,5-9\n"
      "  --apply-delay-ms MS  apply a configuration-set after this delay (default 0)\n"
      "  --auto-addresses     while a device's AutoIP byte is nonzero it announces addresses of\n"
      "                       its own (10.20.x.y/16) in bytes 40-59, as if leased by DHCP\n"
      "  --count N            stop after N announcement rounds (default: unlimited)\n"
      "  --duration-ms MS     stop after MS milliseconds (default: unlimited)\n"
      "  --quiet              no announcement or dropped-datagram lines; set lines stay\n"
      "  --bind-lo            bind the socket to 127.0.0.1 instead of the wildcard address\n"
      "  --help               print this text\n"
      "\n"
      "Stops on SIGINT/SIGTERM with a summary line and exit code 0.\n";
}

}  // namespace devsim
