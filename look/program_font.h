// The windows' font: "MS Sans Serif" at a height in pixels, or the system's
// sans-serif font at that height where it is not installed.
#pragma once

#include <QFont>

inline QFont SansSerifFont(int pixels)
{
    QFont font("MS Sans Serif");
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    return font;
}
