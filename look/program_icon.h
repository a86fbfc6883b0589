// The program's own icon, drawn by the program: the windows' title bar icon
// and the application icon when no "rss.ico" is at hand.
#pragma once

#include <QIcon>
#include <QPixmap>

QIcon ProgramIcon();
// The same drawing at any size (the icon files of an installed program).
QPixmap ProgramIcon(int size);
