#include "engine/intake.h"

#include "device/fields.h"
#include "device/protocol.h"

namespace engine {

namespace proto = device::protocol;

device::NetConfig* AnnouncedConfig(std::vector<std::uint8_t>& work) {
  device::NetConfig* config = proto::ReadNetConfigration(work.data());
  const auto begin = reinterpret_cast<std::uintptr_t>(work.data());
  const auto at = reinterpret_cast<std::uintptr_t>(config);
  if (at < begin || at - begin > work.size() || work.size() - (at - begin) < device::kNetConfigSize)
    return nullptr;
  return config;
}

IntakeOutcome Intake(std::vector<std::uint8_t>& work, DeviceList& list, unsigned adapter) {
  if (work.empty()) return {};
  const std::int32_t kind = proto::PreparePackage(work.data(), static_cast<std::int32_t>(work.size()));
  if (kind != proto::kAnnouncement && kind != proto::kAnnouncementAfterWrite) return {};

  const std::uint64_t ident = proto::GetDeviceIdent(work.data());
  const int index = list.IndexOf(ident);
  const device::NetConfig* announced = AnnouncedConfig(work);
  if (announced == nullptr) return {};
  if (index < 0) {
    // HAddrFormat is byte 2 of the buffer; a datagram too short to hold it
    // makes no entry.
    if (work.size() < 3) return {};
    device::DeviceEntry entry;
    device::CopyConfig(entry.Config, announced);
    entry.HAddrFormat = work[2];
    return {IntakeResult::NewDevice, list.Append(ident, entry, adapter)};
  }
  device::CopyConfig(list.Entry(index).Config, announced);
  list.SetAdapter(index, adapter);
  return {IntakeResult::KnownDevice, index};
}

}  // namespace engine
