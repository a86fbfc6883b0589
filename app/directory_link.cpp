#include "directory_link.h"

#include "Directory.h"
#include "Main.h"
#include "Option.h"
#include "station_slots.h"

void LinkDirectory(TFormDirectory& directory, TFormMain& main, TFormOption& options)
{
    directory.play = [&main](const std::string& address) {
        main.SetEditText(address);
        main.EditInputKeyDown(13);
    };
    directory.store = [&main](int slot, const std::string& address) { return main.StoreStation(slot, address); };
    directory.slotAddress = [](int slot) { return SlotAddress(slot); };
    QObject::connect(&options, &TFormOption::DirectoryRequested, &directory, [&directory] {
        directory.show();
        directory.raise();
        directory.activateWindow();
    });
}
