// Texts shown beside the record's own fields.
#pragma once

#include <cstdint>
#include <string>

namespace device {

// The fourth hardware-address byte shown beside the editable two: for
// HAddrFormat 1 the byte sum of the identity's seven low bytes, else for
// identities beginning "FF" their 9th and 10th characters, else "06".
std::string FourthHAddrByteText(const std::string& identText, std::uint8_t hAddrFormat);

}  // namespace device
