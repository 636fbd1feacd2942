#pragma once
// The desktop services of the X11 system driver: dialogs run as zenity
// (xmessage when zenity cannot start) and URLs handed to xdg-open. Helper
// programs get their arguments as an argument vector, never through a shell.
// Only x11/ folders and tests include this header.

#include <string>
#include <sys/types.h>
#include <vector>

// The zenity "--file-filter=NAME | *.a *.b" arguments for an extension list,
// the group preselected for path first, the others in their order.
std::vector<std::string> ZenityFileFilters(const std::string& extensions, const std::string& path);

// The process id of the helper program a dialog is waiting for now (0: none);
// lets a test end a dialog it could not answer.
pid_t X11RunningHelper();
