#pragma once
// The application's icon: a modem handset with its signal and a reload arrow, drawn at start
// so that the program needs no image files or extra Qt modules. Used by the window and the
// notification-area icon. Call on the user-interface thread after QApplication exists.
// tovalink.png beside this file is the same drawing at 128 pixels, for desktop menu entries;
// window_test draws it anew into the build tree (tovalink-icon.png).

#include <QIcon>
#include <QPixmap>

namespace tovalink {

// The icon drawn at `size` by `size` pixels.
QPixmap DrawApplicationIcon(int size);
// The icon at the sizes a desktop asks for (16 to 256 pixels).
QIcon ApplicationIcon();

}  // namespace tovalink
