// Waiting for a descriptor of this layer's Linux files (a port, a pseudo
// terminal) together with events.
#pragma once

#include "platform/Event.h"

namespace platform {

// `events` are poll() bits (POLLIN, POLLOUT ...); the wait fills revents.
// A descriptor of -1 is never ready.
inline Waitable DescriptorWaitable(int fd, short events) { return Waitable{nullptr, fd, events, 0}; }

}  // namespace platform
