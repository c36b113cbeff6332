// Network address texts.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// "a.b.c.d" for an IPv4 address as it is kept in memory (network byte
// order), as inet_ntoa writes it.
std::string DottedAddress(uint32_t networkOrder);

}  // namespace platform
