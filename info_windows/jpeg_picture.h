// The About window's decorative picture is a JPEG built into the program;
// libjpeg decodes it from memory.
#pragma once

#include <QImage>
#include <cstddef>

// Decodes a JPEG held in memory into an RGB picture of its own size. A
// picture that libjpeg cannot read, or can read only by patching it up (a
// truncated file, corrupt data), gives a null image, so the control that
// shows it stays blank; nothing is printed.
QImage DecodeJpeg(const unsigned char* data, std::size_t size);
