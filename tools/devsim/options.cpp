#include "options.h"

#include <CLI/CLI.hpp>

#include "cli/parse_arguments.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
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

namespace {

// A whole decimal number from min to max into 'target' ("010" is ten).
template <typename T>
CLI::Option* addNumber(CLI::App& app, const std::string& name, T& target, std::uint64_t min, std::uint64_t max,
                       const std::string& help) {
  return app.add_option_function<std::string>(
      name,
      [&target, name, min, max](const std::string& text) {
        std::uint64_t value = 0;
        if (!parseUnsigned(text, 10, value) || value < min || value > max)
          throw CLI::ValidationError(name, "expected a whole number from " + std::to_string(min) + " to " +
                                               std::to_string(max) + ", got '" + text + "'");
        target = static_cast<T>(value);
      },
      help);
}

// What the options together must satisfy; empty when they do.
std::string checkTogether(const Options& options) {
  if (!options.ignoreSets.empty() && options.ignoreSets.back() >= options.devices)
    return "option --ignore-sets: device index " + std::to_string(options.ignoreSets.back()) +
           " out of range (there are " + std::to_string(options.devices) + " devices)";
  const std::uint64_t base = effectiveIdentBase(options);
  const std::uint64_t last = base + (options.devices - 1);
  if (last < base) return "option --ident-base: identities would wrap past FFFFFFFFFFFFFFFF";
  if (options.ffIdents && (last >> 48) != 0xFF)
    return "option --ff-idents: identities would leave the FF.. range; choose a lower --ident-base";
  return {};
}

}  // namespace

std::optional<Options> parseOptions(const std::vector<std::string>& args, int& exitCode) {
  Options options;
  CLI::App app{"Plays simulated devices: announces them over UDP and applies configuration-set packets.\n"
               "It broadcasts and sends to a multicast group: it refuses to announce while an adapter other than\n"
               "loopback is up, unless --real-network is given (a network set aside for training).",
               "orven-devsim"};
  app.footer("Stops on SIGINT/SIGTERM with a summary line and exit code 0.");
  app.allow_windows_style_options(false);
  // A flag takes no value ("--quiet=1" is refused).
  const auto flag = [&app](const std::string& name, bool& target, const std::string& help) {
    app.add_flag(name, target, help)->disable_flag_override();
  };
  const std::uint64_t u32max = std::numeric_limits<std::uint32_t>::max();
  addNumber(app, "--devices", options.devices, 1, kMaxDevices, "number of devices, 1-64000 (default 4)")
      ->type_name("N");
  addNumber(app, "--interval-ms", options.intervalMs, 1, 3600000,
            "each device announces once per interval, the devices spread evenly over it (default 1000)")
      ->type_name("MS");
  app.add_option_function<std::string>(
         "--mode",
         [&options](const std::string& value) {
           if (value == "broadcast") options.mode = Mode::Broadcast;
           else if (value == "multicast") options.mode = Mode::Multicast;
           else if (value == "both") options.mode = Mode::Both;
           else throw CLI::ValidationError("--mode", "expected broadcast, multicast or both, got '" + value + "'");
         },
         "broadcast (255.255.255.255:60080), multicast (230.1.1.100:60081) or both (default both)")
      ->type_name("M");
  addNumber(app, "--port", options.port, 0, 65535, "source UDP port shared by all devices; 0 = system-chosen (default 0)")
      ->type_name("P");
  app.add_option_function<std::string>(
         "--ident-base",
         [&options](const std::string& value) {
           if (!parseUnsigned(value, 16, options.identBase))
             throw CLI::ValidationError("--ident-base", "expected a hexadecimal number, got '" + value + "'");
           options.identBaseGiven = true;
         },
         "identity of device 0; device i has base+i (default 0012AB34CD5600)")
      ->type_name("HEX");
  flag("--ff-idents", options.ffIdents,
               "identities with top byte FF (default base FF0012AB34CD56; with --ident-base, its top byte of 14 "
               "digits is replaced by FF)");
  addNumber(app, "--format-flag", options.formatFlag, 0, 255, "byte 2 of every packet, normally 0 or 1 (default 0)")
      ->type_name("B");
  app.add_option_function<std::string>(
         "--ignore-sets",
         [&options](const std::string& value) {
           std::string error;
           if (!parseIndexList(value, options, error)) throw CLI::ValidationError(error);
         },
         "devices that ignore configuration-set packets: 'all' or indices and ranges such as 0,3,5-9")
      ->type_name("LIST");
  addNumber(app, "--apply-delay-ms", options.applyDelayMs, 0, 3600000,
            "apply a configuration-set after this delay (default 0)")
      ->type_name("MS");
  flag("--auto-addresses", options.autoAddresses,
               "while a device's AutoIP byte is nonzero it announces addresses of its own (10.20.x.y/16) in bytes "
               "40-59, as if leased by DHCP");
  addNumber(app, "--count", options.count, 1, u32max, "stop after N announcement rounds (default: unlimited)")
      ->type_name("N");
  addNumber(app, "--duration-ms", options.durationMs, 0, 1000ULL * u32max,
            "stop after MS milliseconds (default: unlimited)")
      ->type_name("MS");
  flag("--quiet", options.quiet, "no announcement or dropped-datagram lines; set lines stay");
  flag("--bind-lo", options.bindLoopback, "bind the socket to 127.0.0.1 instead of the wildcard address");
  flag("--real-network", options.realNetwork,
       "announce although an adapter other than loopback is up: only on a network set aside for training "
       "(without it the simulator refuses there, exit code 3)");

  try {
    cli::ParseArguments(app, args);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    exitCode = 0;
    return std::nullopt;
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "orven-devsim: %s\n", e.what());
    exitCode = 2;
    return std::nullopt;
  }
  if (const std::string problem = checkTogether(options); !problem.empty()) {
    std::fprintf(stderr, "orven-devsim: %s\n", problem.c_str());
    exitCode = 2;
    return std::nullopt;
  }
  return options;
}

}  // namespace devsim
