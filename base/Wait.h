// Waiting on the thread that owns a message window.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Event.h"

// Waits like platform::WaitForAny. On a thread that owns a message window
// it also handles the messages other threads send to that window while it
// waits, so a worker that is blocked in a send can never deadlock the
// owner waiting for it (for a lock, a thread's end, a search to stop).
// Posted messages and timers are not handled here.
uint32_t WaitPumpingSends(platform::Waitable* items, size_t count, uint32_t timeoutMs);
uint32_t WaitPumpingSends(platform::Event& event, uint32_t timeoutMs);
