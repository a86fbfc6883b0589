// Who and what the program is, as its windows and files name it.
#pragma once

#include "ondalux_version.h"

constexpr const char* kProgramName = "Ondalux";
constexpr const char* kProgramVersion = ONDALUX_VERSION;
// The program's web site, named in the main window's caption, the About
// window's link and the listening log's header.
constexpr const char* kWebSiteDomain = "ondalux.example";
