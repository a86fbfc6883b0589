// The preset slots' addresses: the compiled-in one of each station button,
// or the listener's own where one was stored. Own addresses live in section
// "Stations" of the settings file, one key per slot ("1" to "100"), written
// the moment they change; slots that keep their compiled-in address have no
// key. All of it on the user-interface thread.
#pragma once

#include <cstddef>
#include <string>

constexpr const char* kStationsSection = "Stations";
// The longest address a slot takes (bytes), as long as the longest address
// box text the settings keep.
constexpr std::size_t kMaxStationAddress = 2047;

// The address slot (0 to 99) plays.
const std::string& SlotAddress(int slot);
// Whether the slot has an address of the listener's own.
bool SlotHasOwnAddress(int slot);

// Why address cannot go into a slot (windows-1251 bytes, a sentence for the
// listener), or empty when it can: an empty address, one longer than
// kMaxStationAddress, one with control characters.
std::string AddressRefusal(const std::string& address);

// What storing or restoring did to the settings file.
enum class SlotWrite { Written, Failed };

// Gives the slot address as its own (blanks around it dropped; the
// compiled-in address itself makes the slot plain again) and writes the
// slot's key. Only for addresses AddressRefusal lets through. When the file
// cannot be written the address holds for this run and is written again
// at exit.
SlotWrite StoreSlotAddress(int slot, const std::string& address);
// Back to the compiled-in address; the slot's key goes.
SlotWrite RestoreSlotAddress(int slot);

// Start-up: the own addresses the settings file holds (and none other). Keys other than 1 to
// 100, empty or unusable values are passed over (the latter with a line on
// standard error); of a key given twice the first counts.
void ReadSlotAddresses();
// Exit: writes again the slots whose writing failed. Returns false when
// some still could not be written.
bool WritePendingSlots();
