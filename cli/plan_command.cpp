// orven-cli plan: listens, then writes a plan that gives every device heard
// (or named) the next free address of a range, with the other options the
// same on every row.
#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <unordered_set>

#include "cli/assign.h"
#include "cli/checks.h"
#include "cli/command.h"
#include "cli/exit_codes.h"
#include "cli/monitor.h"
#include "cli/output.h"
#include "cli/plan.h"
#include "device/field_table.h"
#include "device/fields.h"
#include "net/inspect.h"

namespace cli {

namespace {

struct PlanOptions {
  std::string range;
  std::map<std::string, std::string> values;  // by field key, as given; the name a template
  std::string order = "identity";
  std::vector<std::string> only;
  double seconds = 3;
  std::string output;
};

std::string Seconds(double seconds) {
  std::ostringstream text;
  text << seconds << " s";
  return text.str();
}

// Replaces every {n} and {ident} in the name template.
std::string ExpandName(const std::string& text, int n, const std::string& ident) {
  std::string name;
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, 3, "{n}") == 0) {
      name += std::to_string(n);
      i += 3;
    } else if (text.compare(i, 7, "{ident}") == 0) {
      name += ident;
      i += 7;
    } else {
      name += text[i++];
    }
  }
  return name;
}

// The devices to plan, as indices of the list heard, in the plan's order.
std::vector<int> Chosen(const engine::DeviceList& heard, const PlanOptions& plan, double seconds) {
  std::vector<int> chosen;
  if (plan.only.empty()) {
    for (int i = 0; i < heard.Count(); ++i) chosen.push_back(i);
    if (chosen.empty()) throw Failure(kExitMissed, "no device heard in " + Seconds(seconds) + "; no plan written");
  } else {
    std::string missing;
    for (const std::string& text : plan.only) {
      std::uint64_t ident = 0;
      const int index = ParseIdentity(text, ident) ? heard.IndexOf(ident) : -1;
      if (index < 0) missing += (missing.empty() ? "" : ", ") + device::IdentityText(ident);
      else if (std::find(chosen.begin(), chosen.end(), index) == chosen.end()) chosen.push_back(index);
    }
    if (!missing.empty()) throw Failure(kExitMissed, "not heard in " + Seconds(seconds) + ": " + missing + "; no plan written");
    if (plan.order == "heard") std::sort(chosen.begin(), chosen.end());
  }
  if (plan.order == "identity")
    std::sort(chosen.begin(), chosen.end(), [&](int a, int b) { return heard.Ident(a) < heard.Ident(b); });
  return chosen;
}

int RunPlan(const SessionOptions& options, const PlanOptions& plan) {
  // Everything the options say is checked before anything is heard.
  const std::size_t dash = plan.range.find('-');
  std::uint32_t first = 0, last = 0;
  if (dash == std::string::npos || !ParseDottedQuad(plan.range.substr(0, dash), first) ||
      !ParseDottedQuad(plan.range.substr(dash + 1), last) || first > last)
    throw Failure(kExitUsage, "--range: '" + plan.range + "' is not FIRST-LAST, two IPv4 addresses in ascending order");
  Changes common;
  for (const auto& [key, value] : plan.values)
    if (key != "name")
      if (std::string p = SetChange(common, key, value); !p.empty()) throw Failure(kExitUsage, "--" + p);
  for (const std::string& text : plan.only)
    if (std::uint64_t ident = 0; !ParseIdentity(text, ident))
      throw Failure(kExitUsage, "--only: '" + text + "' is not 1 to 16 hexadecimal digits");

  Session session(options);
  Monitor monitor;
  if (Listen(session, monitor, plan.seconds)) return kExitStopped;
  const engine::DeviceList& heard = monitor.List();
  const std::vector<int> chosen = Chosen(heard, plan, plan.seconds);

  AddressRequest request{first, last, {}, {}, {}, {}};
  std::uint32_t givenMask = 0;
  const bool maskGiven = common["mask"] && ParseDottedQuad(*common["mask"], givenMask);
  for (int i : chosen) {
    request.current.push_back(HostOrder(heard.Entry(i).Config.PAddr));
    request.masks.push_back(maskGiven ? givenMask : HostOrder(heard.Entry(i).Config.SubNetMask));
  }
  for (int i = 0; i < heard.Count(); ++i)
    if (heard.Entry(i).Config.PAddr != 0) request.announced.push_back(HostOrder(heard.Entry(i).Config.PAddr));
  std::vector<net::inspect::AdapterInfo> adapters;
  net::inspect::ListAdapters(adapters);
  for (const auto& adapter : adapters)
    for (const auto& a : adapter.addresses) request.workstation.push_back(HostOrder(a.address));
  if (request.workstation.empty())  // there is always the loopback address
    std::cerr << "orven-cli: this workstation's addresses could not be listed, so they are not skipped\n";
  const AddressResult assigned = AssignAddresses(request);
  if (!assigned.problem.empty()) throw Failure(kExitRefused, "refused: " + assigned.problem + "; no plan written");
  if (assigned.missing)
    throw Failure(kExitUsage, "the range " + plan.range + " has too few free addresses for " +
                                  std::to_string(chosen.size()) + " devices: " + std::to_string(assigned.missing) +
                                  " missing; no plan written");

  // Each row as apply would write it, with apply's checks.
  std::unordered_set<std::uint64_t> movingAway;
  for (int i : chosen) movingAway.insert(heard.Ident(i));
  std::vector<PlanRow> rows;
  std::vector<std::string> badValues, refusals;
  for (std::size_t r = 0; r < chosen.size(); ++r) {
    const int i = chosen[r];
    const std::string ident = heard.Text(i);
    PlanRow& row = rows.emplace_back();
    row.ident = heard.Ident(i);
    row.changes = common;
    SetChange(row.changes, "ip", DottedQuad(assigned.addresses[r]));
    // An address only sticks without automatic addressing.
    if (device::AutoIPToChecked(heard.Entry(i).Config.AutoIP)) SetChange(row.changes, "auto", "off");
    if (const auto name = plan.values.find("name"); name != plan.values.end())
      if (std::string p = SetChange(row.changes, "name", ExpandName(name->second, static_cast<int>(r) + 1, ident));
          !p.empty())
        badValues.push_back(ident + ": " + p);
    device::NetConfig pending{};
    std::vector<std::string> problems;
    if (std::string p = BuildPending(heard.Entry(i), row.changes, pending); !p.empty()) problems.push_back(p);
    else problems = PreWriteProblems(pending, row.ident, heard, movingAway);
    for (const std::string& p : problems) refusals.push_back(ident + ": refused: " + p);
  }
  const auto fail = [](int code, const std::vector<std::string>& problems) {
    std::string all;
    for (const std::string& p : problems) all += (all.empty() ? "" : "\norven-cli: ") + p;
    throw Failure(code, all + "\norven-cli: no plan written");
  };
  if (!badValues.empty()) fail(kExitUsage, badValues);
  if (!refusals.empty()) fail(kExitRefused, refusals);

  const std::string text = PlanText(rows);
  if (plan.output.empty()) {
    std::cout << text;
    std::cout.flush();
  } else if (std::string p = WriteFileAtomically(plan.output, text); !p.empty()) {
    throw Failure(kExitUsage, p);
  }
  std::size_t kept = 0;
  for (std::size_t r = 0; r < chosen.size(); ++r) kept += assigned.addresses[r] == request.current[r];
  std::cerr << "orven-cli: planned " << rows.size() << " device" << (rows.size() == 1 ? "" : "s") << " in "
            << plan.range << ": " << kept << " keep their address, " << rows.size() - kept << " get a new one\n";
  return kExitSuccess;
}

}  // namespace

void SetUpPlan(CLI::App& app, Common& common) {
  auto options = std::make_shared<PlanOptions>();
  CLI::App* plan = app.add_subcommand(
      "plan", "listen, then write a plan for apply giving every device heard the next free address of a range");
  plan->add_option("--range", options->range, "FIRST-LAST: the addresses to give, such as 10.30.0.10-10.30.0.99")
      ->required();
  for (const device::Field& field : device::kFields) {
    const std::string key = field.key;
    if (key == "ip" || field.kind == device::FieldKind::Switch || field.kind == device::FieldKind::HardwareByte)
      continue;
    const std::string help = field.kind == device::FieldKind::Name
                                 ? std::string(field.help) + "; {n} becomes the row's number, {ident} the identity"
                                 : std::string(field.help) + ", the same on every row";
    plan->add_option_function<std::string>(
        "--" + key, [options, key](const std::string& v) { options->values[key] = v; }, help);
  }
  plan->add_option("--order", options->order, "rows in identity order (default) or in the order first heard")
      ->check(CLI::IsMember({"identity", "heard"}));
  plan->add_option("--only", options->only, "plan only these devices (identities, comma-separated)")->delimiter(',');
  AddSecondsOption(plan, options->seconds);
  plan->add_option("-o,--output", options->output, "write the plan to FILE (default: standard output)");
  AddCommonOptions(plan, common);
  OnRun(plan, common, [&common, options] { return RunPlan(common.session, *options); });
}

}  // namespace cli
