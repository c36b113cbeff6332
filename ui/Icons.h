// The program's images, drawn at run time so they stay sharp at any size
// and need no files: the five row states of the device list, the program
// icon and the images of the progress window and the About box.
//
// Thread: the GUI thread (QPixmap).
#pragma once

#include <QIcon>
#include <QPixmap>

#include "window/RowImage.h"

// Icon 6030 + index (a RowImage), `size` pixels square (the list uses 14).
QPixmap RowStateImage(int index, int size = 14);
// Icons 6000 (large) and 6001 (small) together: the windows' icon.
QIcon ProgramIcon();
// Icon 6350, the progress window's picture: firmware flowing into the instrument.
QPixmap UpdateImage(int size = 32);
// Icon 6051, the About box's picture.
QPixmap AboutImage(int size = 32);
