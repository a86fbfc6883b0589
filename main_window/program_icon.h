// The program's own icon, drawn by the program: the windows' title bar icon
// and the application icon when no "rss.ico" is at hand.
#pragma once

#include <QIcon>

QIcon ProgramIcon();
