// How every window turns the program's bytes into shown text and back: the
// texts the program stores and receives are windows-1251 (or UTF-8) bytes.
#pragma once

#include <QString>
#include <string>

// The program's own texts, in windows-1251 as the program stores them.
std::string Ansi(const char* utf8);

// Bytes shown on the screen: UTF-8 when they are valid UTF-8, windows-1251
// otherwise.
QString Shown(const std::string& bytes);
// A hint that shows text exactly as it stands. Qt reads a hint that looks
// like markup as markup; such a text is escaped so that its brackets and
// ampersands show as typed.
QString PlainHint(const QString& text);
// A shown text back to bytes (windows-1251, UTF-8 for what it lacks).
std::string Bytes(const QString& text);
