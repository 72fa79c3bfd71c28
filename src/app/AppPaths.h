// SPDX-License-Identifier: GPL-3.0-or-later
// Where the program's files are: the one place that decides it.
//
// The settings record, its companion settings file and the log stay beside
// the executable when that folder is writable and the program is not
// installed (a build tree, a folder the user unpacked the program into). An
// installed program (its data folder <prefix>/share/vorta-display beside its
// own) follows the desktop conventions, even run by root or from a prefix the
// user owns: the settings go to
// $XDG_CONFIG_HOME/vorta-display/ (default ~/.config/vorta-display/) and the
// log to $XDG_STATE_HOME/vorta-display/ (default ~/.local/state/vorta-display/),
// created when first needed.
//
// The data shipped with the program (help.txt, img/) is read from beside the
// executable, else from the installed data folder <prefix>/share/vorta-display,
// found relative to the executable (<prefix>/bin) so that a moved prefix works.
// The program's loadable modules are found the same way: beside the
// executable, else in <prefix>/lib/vorta-display.
//
// All of these are called on the user-interface thread only.
#pragma once

#include <string>
#include <vector>

// The executable's own folder. Tests point it at a temporary folder.
std::string AppFolder();
void SetAppFolder(const std::string& Folder);
// Name's path beside the executable.
std::string AppFile(const std::string& Name);

// The folder the settings are written to and read from first; the user's
// configuration folder is created when it is the one chosen (EInOutError
// when it cannot be).
std::string SettingsFolder();
// Name's path in SettingsFolder().
std::string SettingsFile(const std::string& Name);
// The log file's path; its folder is created like the settings folder.
std::string LogFile();

// Folders holding the shipped data, in the order they are searched: beside
// the executable, the installed data folder, then the system's data folders.
std::vector<std::string> DataFolders();
// The first existing Name in DataFolders(); when none has it, Name's path
// beside the executable, so that the error names a sensible place.
std::string DataFile(const std::string& Name);

// Folders holding the program's modules, in the order they are searched:
// beside the executable, then the installed library folder.
std::vector<std::string> ModuleFolders();
