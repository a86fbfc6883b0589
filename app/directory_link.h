// How the station directory meets the other windows: the options window
// opens it; what it plays goes into the main window's address box and
// starts as Enter there would; what it writes goes into a preset slot as
// the slot's own address.
#pragma once

class TFormDirectory;
class TFormMain;
class TFormOption;

// The directory must not outlive the main window.
void LinkDirectory(TFormDirectory& directory, TFormMain& main, TFormOption& options);
