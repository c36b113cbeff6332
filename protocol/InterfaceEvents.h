// Interface events: what a port interface hands to its owner's callback.
//
// Shared by the line protocol (protocol/) and the port interfaces
// (transport/), so neither has to include the other for the codes.
#pragma once

#include <cstdint>

#include "base/ByteBuffer.h"
#include "base/Object.h"

// Raised by the line protocol.
inline constexpr uint32_t IF_EVENT_LINE_RECEIVED = 0x00000001;    // data 0, text: the line
inline constexpr uint32_t IF_EVENT_RECEIVE_TIMEOUT = 0x00000080;  // data 0, text empty
inline constexpr uint32_t IF_EVENT_BYTES_SENT = 0x00000400;       // data: bytes confirmed so far
// Raised by the port interfaces.
inline constexpr uint32_t IF_EVENT_PORT_FOUND = 0x00010000;  // data: new CInterfaceParameter*
inline constexpr uint32_t IF_EVENT_CONNECTION_LOST = 0x20000000;  // text: the port name
inline constexpr uint32_t IF_EVENT_TRANSFER_ERROR = 0x40000000;   // text: the port name
inline constexpr uint32_t IF_EVENT_SYSTEM_ERROR = 0x80000000;     // text: the error's text

// The owner's handler. `data` is pointer-wide because IF_EVENT_PORT_FOUND
// carries a record the receiver then owns; every other event carries a
// 32-bit value. `text` is never null and is valid only during the call.
// `context` is the value the owner registered, unchanged.
using InterfaceEventFn = void (*)(uint32_t event, uintptr_t data, const CByteBuffer* text,
                                  CObject* context);
