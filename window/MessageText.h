// The text of the message dialog for a result code or a string number, the
// same for every front end.
#pragma once

#include <cstdint>
#include <string>

class CDeviceParameter;

// A result code (bit 29 set) gives its text from the result table, or
// "Unknown Error!" for a code the table lacks; text 6264 gets the lowest
// software version the device's hardware requires in place of its "%s";
// any other number is a string number. `record` may be null.
std::string MessageDialogText(uint32_t code, const CDeviceParameter* record);
