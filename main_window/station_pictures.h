// The small picture each station button shows left of its number: one of its
// own for every slot, drawn by the program.
#pragma once

#include <QPixmap>

// slot 1 to 100. The pictures of one genre column share a motif.
QPixmap StationPicture(int slot);
