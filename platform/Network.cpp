#include "platform/Network.h"

#include <cstdio>
#include <cstring>

namespace platform {

std::string DottedAddress(uint32_t networkOrder) {
    // Network order is memory order: the first byte is the first number.
    unsigned char b[4];
    std::memcpy(b, &networkOrder, sizeof b);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

}  // namespace platform
