// What the About and options windows share of their look: the text font and
// the pictures the program draws for them.
#pragma once

#include <QFont>
#include <QIcon>
#include <QPixmap>

class QLabel;


// A one-line label grows to the right when its text is wider than its box,
// as a label that sizes itself to its text does: the boxes were measured for
// "MS Sans Serif", and a wider stand-in must not cut the text.
void WidenToText(QLabel* label);

// The windows' own 32 x 32 icons, drawn in the sixteen colours of the
// classic palette: a blue disc with a white "i" for About, a gear for the
// options.
QIcon AboutWindowIcon();
QIcon OptionWindowIcon();

// The check mark of an OK button, 18 x 18 on transparent.
QPixmap CheckMarkPicture();
