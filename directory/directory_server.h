// Which directory server the program asks: the key "Server" of section
// "Directory" in the settings file, or the public radio-browser service.
// The program only reads the key; a user who runs a server of their own
// writes it by hand:
//
//   [Directory]
//   Server=http://radio.lan:8080
#pragma once

#include <QString>
#include <string>

constexpr const char* kDirectorySection = "Directory";
constexpr const char* kDefaultDirectoryServer = "https://all.api.radio-browser.info";

// The server named in settingsFile, without a trailing '/'; the default
// when the file, the key or a usable value is missing (anything but an
// http or https address with a host).
QString DirectoryServerIn(const std::string& settingsFile);

// The server of this program's settings file (Folders()). Main thread.
QString DirectoryServer();
