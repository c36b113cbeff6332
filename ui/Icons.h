// The program's images, drawn at run time so they stay sharp at any size
// and need no files: the five row states of the device list, the program
// icon and the images of the progress window and the About box.
//
// Thread: the GUI thread (QPixmap).
#pragma once

#include <QIcon>
#include <QPixmap>

// Row images of the device list, in image-list order.
enum RowImage {
    ROW_IMAGE_POSSIBLE = 0,    // icon 6030: an update may be started
    ROW_IMAGE_IMPOSSIBLE = 1,  // icon 6031
    ROW_IMAGE_RUNNING = 2,     // icon 6032
    ROW_IMAGE_SUCCEEDED = 3,   // icon 6033
    ROW_IMAGE_FAILED = 4,      // icon 6034
    ROW_IMAGE_COUNT = 5
};

// Icon 6030 + index, `size` pixels square (the list uses 14).
QPixmap RowStateImage(int index, int size = 14);
// Icons 6000 (large) and 6001 (small) together: the windows' icon.
QIcon ProgramIcon();
// Icon 6350, the progress window's picture: firmware flowing into the instrument.
QPixmap UpdateImage(int size = 32);
// Icon 6051, the About box's picture.
QPixmap AboutImage(int size = 32);
