// The console's window icon: the program's icon (a dispenser module handing out a banknote) from
// the icon theme when it is installed, else the same picture drawn here, so that a build that
// has not been installed shows it too.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace kalvor {

// The picture at `size` × `size` pixels.
QPixmap DrawAppIcon(int size);
// The icon for the windows.
QIcon AppIcon();

}  // namespace kalvor
