#include "engine/confirm.h"

#include <cstring>
#include <stdexcept>

#include "device/fields.h"
#include "device/protocol.h"
#include "engine/intake.h"

namespace engine {

namespace proto = device::protocol;

ConfirmAction Confirm(bool writeOpen, const device::NetConfig& pending, std::vector<std::uint8_t>& work) {
  if (!writeOpen) return ConfirmAction::None;
  const device::NetConfig* announced = AnnouncedConfig(work);
  if (announced == nullptr) return ConfirmAction::None;
  if (device::SameConfig(pending, announced)) return ConfirmAction::Success;

  work.resize(proto::kSendBufferSize, 0);
  // The address is asked for again: the buffer may have moved.
  device::NetConfig* target = AnnouncedConfig(work);
  if (target == nullptr) return ConfirmAction::None;
  std::memcpy(target, &pending, device::kNetConfigSize);
  const std::int32_t length = proto::SendNetConfigration(work.data());
  if (length < 1 || static_cast<std::size_t>(length) > proto::kSendBufferSize)
    throw std::runtime_error("configuration-set packet length out of range");
  work.resize(static_cast<std::size_t>(length));
  return ConfirmAction::Send;
}

}  // namespace engine
