// The settings file: two values in section "Ondalux" of ".\Ondalux.ini" in
// the current folder (or the user's settings folder, for an installed
// program: see folders.h), "LastStation" (the address box's text) and
// "LastNamber" (the index of the last preset played).
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

// Writes both keys. When the file cannot be written, says so in the message
// box "Unable to write to <file>" and skips the rest of the writing. What is
// not a regular file is left alone, with a line on standard error.
void WriteSettings(const StoredSettings& settings);
