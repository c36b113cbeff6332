// The image a device list row shows for its device's state. The values are
// the image list's order: a front end draws image n for value n.
#pragma once

#include <cstdint>

enum RowImage : int {
    ROW_IMAGE_POSSIBLE = 0,    // icon 6030: an update may be started
    ROW_IMAGE_IMPOSSIBLE = 1,  // icon 6031
    ROW_IMAGE_RUNNING = 2,     // icon 6032
    ROW_IMAGE_SUCCEEDED = 3,   // icon 6033
    ROW_IMAGE_FAILED = 4,      // icon 6034
    ROW_IMAGE_COUNT = 5
};

// The image for a device list state byte (DEVICE_STATE_...): an update's
// outcome first, then a running update, then whether one may start.
RowImage RowImageOfState(uint8_t state);
