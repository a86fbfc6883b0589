// The About window's decorative picture, data/about.jpg as the build embeds
// it in the program (made by scripts/make-about-picture).
#pragma once

#include <cstddef>

extern const unsigned char kAboutPicture[];
extern const std::size_t kAboutPictureSize;
