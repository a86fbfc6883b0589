// How the station directory meets the other windows: the options window
// opens it; what it plays goes into the main window's address box and
// starts as Enter there would; what it writes goes into a preset slot as
// the slot's own address.
#pragma once

#include <memory>

class TFormDirectory;
class TFormMain;
class TFormOption;

// The directory window is made into held the first time the options window
// asks for it, for the server of the settings file: a run that never opens
// it neither builds it nor loads the network. held must go before main.
void LinkDirectory(std::unique_ptr<TFormDirectory>& held, TFormMain& main, TFormOption& options);
