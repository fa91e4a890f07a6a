// orven-cli verify: listens, then compares what the devices announce with a
// plan: each planned device matches, differs (field by field) or was not
// heard; devices not in the plan are extra; devices sharing an address are
// named.
#include <iostream>
#include <map>
#include <memory>
#include <unordered_set>

#include "cli/command.h"
#include "cli/exit_codes.h"
#include "cli/monitor.h"
#include "cli/output.h"
#include "cli/plan.h"
#include "device/field_table.h"
#include "device/fields.h"

namespace cli {

namespace {

struct VerifyOptions {
  std::string planPath;
  double seconds = 3;
  std::string format = "table";
};

std::string Shown(const std::string& text) { return text.empty() ? "(not set)" : text; }

// "ip: planned A, announced B; ..." for every field the row sets that the
// device announces otherwise.
std::string Differences(const device::DeviceEntry& entry, const Changes& changes) {
  device::NetConfig planned{};
  BuildPending(entry, changes, planned);
  std::string text;
  for (std::size_t f = 0; f < device::kFields.size(); ++f) {
    if (!changes.values[f]) continue;
    const device::Field& field = device::kFields[f];
    const std::string want = device::FieldText(planned, field), have = device::FieldText(entry.Config, field);
    if (want != have)
      text += (text.empty() ? "" : "; ") + std::string(field.key) + ": planned " + Shown(want) + ", announced " + Shown(have);
  }
  return text;
}

int RunVerify(const SessionOptions& options, const VerifyOptions& verify) {
  // A plan giving one address to several rows is checked as it stands.
  const std::vector<PlanRow> rows = ReadPlan(verify.planPath, true);
  Session session(options);
  Monitor monitor;
  if (Listen(session, monitor, verify.seconds)) return kExitStopped;
  const engine::DeviceList& heard = monitor.List();

  std::map<std::uint32_t, std::vector<int>> byAddress;
  for (int i = 0; i < heard.Count(); ++i)
    if (heard.Entry(i).Config.PAddr != 0) byAddress[heard.Entry(i).Config.PAddr].push_back(i);
  const auto sharing = [&](int index) {
    std::string others;
    for (int j : byAddress[heard.Entry(index).Config.PAddr])
      if (j != index) others += (others.empty() ? "" : " ") + heard.Text(j);
    return others;
  };

  const std::vector<std::string> header{"identity", "result", "ip", "differences", "shares_ip_with"};
  std::vector<Row> out;
  std::map<std::string, int> counts;
  bool problem = false;
  std::unordered_set<std::uint64_t> planned;
  const auto add = [&](const std::string& ident, const std::string& result, const std::string& ip,
                       const std::string& differences, const std::string& shares) {
    out.push_back({{header[0], ident}, {header[1], result}, {header[2], ip}, {header[3], differences},
                   {header[4], shares}});
    ++counts[result];
  };
  for (const PlanRow& row : rows) {
    planned.insert(row.ident);
    const int index = heard.IndexOf(row.ident);
    if (index < 0) {
      add(device::IdentityText(row.ident), "not heard", "", "", "");
      problem = true;
      continue;
    }
    const std::string differences = Differences(heard.Entry(index), row.changes);
    const std::string shares = sharing(index);
    add(heard.Text(index), differences.empty() ? "matches" : "differs",
        device::IPv4ToText(heard.Entry(index).Config.PAddr), differences, shares);
    problem |= !differences.empty() || !shares.empty();
  }
  for (int i = 0; i < heard.Count(); ++i)
    if (!planned.count(heard.Ident(i))) add(heard.Text(i), "extra", device::IPv4ToText(heard.Entry(i).Config.PAddr), "", sharing(i));

  if (verify.format == "json") WriteJson(std::cout, out);
  else if (verify.format == "csv") WriteCsv(std::cout, header, out);
  else WriteTable(std::cout, header, out);
  std::cout.flush();

  std::cerr << "orven-cli: " << rows.size() << " planned: " << counts["matches"] << " match, " << counts["differs"]
            << " differ, " << counts["not heard"] << " not heard; " << counts["extra"] << " extra\n";
  for (const auto& [address, indices] : byAddress) {
    if (indices.size() < 2) continue;
    std::cerr << "orven-cli: ip " << device::IPv4ToText(address) << " is announced by";
    for (int i : indices) std::cerr << ' ' << heard.Text(i);
    std::cerr << '\n';
  }
  return problem ? kExitProblem : kExitSuccess;
}

}  // namespace

void SetUpVerify(CLI::App& app, Common& common) {
  auto options = std::make_shared<VerifyOptions>();
  CLI::App* verify = app.add_subcommand(
      "verify", "listen, then compare what the devices announce with a plan (exit 0 when every device matches)");
  verify->add_option("PLAN", options->planPath, "the plan file")->required();
  AddSecondsOption(verify, options->seconds);
  AddFormatOption(verify, options->format, {"table", "json", "csv"});
  AddCommonOptions(verify, common);
  OnRun(verify, common, [&common, options] { return RunVerify(common.session, *options); });
}

}  // namespace cli
