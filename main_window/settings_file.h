// The settings file: two values in section "Ondalux" of ".\Ondalux.ini" in
// the current folder (or the user's settings folder, for an installed
// program: see folders.h), "LastStation" (the address box's text) and
// "LastNamber" (the index of the last preset played). The preset slots'
// own addresses are in the same file (station_slots.h).
#pragma once

#include <cstdint>
#include <string>

constexpr const char* kSettingsSection = "Ondalux";

struct StoredSettings {
    std::string lastStation;
    std::int32_t lastNumber = 0;
};

// Reads both keys; defaults for what is missing (the address of slot 1 and
// index 0).
StoredSettings ReadSettings();

// Writes both keys, and the preset slots whose writing failed before (see
// station_slots.h). When the file cannot be written, says so in the message
// box "Unable to write to <file>" and skips the rest of the writing. What is
// not a regular file is left alone, with a line on standard error.
void WriteSettings(const StoredSettings& settings);

// The settings file's name, for the other sections of the file.
const char* SettingsFileName();
// Before a write: whether the file may be written (what is not a regular
// file is left alone, with a line on standard error), with its folder made
// when the program is installed.
bool PrepareSettingsFile();
