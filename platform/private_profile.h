// Settings files in the Windows initialisation-file format:
//
//   [Section]
//   Key=Value
//
// Section and key names match in any case; a value is the rest of its line
// after the first '=', without the blanks around it (and without one pair of
// matching quotes around the whole). Lines starting with ';' are comments.
// Texts are bytes (the program stores windows-1251); a file name may use
// '\' as its separator (".\Ondalux.ini" names Ondalux.ini in the current
// folder). Lines end in CR LF, LF or CR.
//
// A settings file is a regular file (or a link to one): anything else of its
// name reads as missing, at once, and is never replaced. Only the first
// kProfileReadLimit bytes of a file count.
#pragma once

#include <cstddef>

#include "win_types.h"

// How much of a settings file is read: a settings file is a few lines, and
// a file far longer is not one to hold in memory.
constexpr std::size_t kProfileReadLimit = 1024 * 1024;

// Copies the value of key in section, or defaultValue when the file, the
// section or the key is missing, into out (at most size - 1 bytes, always
// zero-terminated); returns the number of bytes copied.
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* out, DWORD size, const char* fileName);

// Sets key in section to value: a key's line is replaced where it stands,
// every other line, section and comment is kept, and the file or the section
// is created when needed. The new file replaces the old one in one step (a
// temporary file renamed over it), so an interrupted write never leaves half
// a file. In a file longer than kProfileReadLimit the change is made in the
// part that counts and the rest is copied as it is; a change that would fall
// past that part (a new section) is refused. Returns 0 (FALSE) when the file
// cannot be written, is not a regular file, or the change is refused.
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName);

// Whether fileName names something that exists but is not a regular file (a
// folder, a FIFO, a device, or a link to one): what reads as missing and is
// never replaced.
bool ProfileFileIsNotRegular(const char* fileName);
