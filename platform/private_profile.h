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
// folder).
#pragma once

#include "win_types.h"

// Copies the value of key in section, or defaultValue when the file, the
// section or the key is missing, into out (at most size - 1 bytes, always
// zero-terminated); returns the number of bytes copied.
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* out, DWORD size, const char* fileName);

// Sets key in section to value: a key's line is replaced where it stands,
// every other line, section and comment is kept, and the file or the section
// is created when needed. The new file replaces the old one in one step (a
// temporary file renamed over it), so an interrupted write never leaves half
// a file. Returns 0 (FALSE) when the file cannot be written.
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName);
