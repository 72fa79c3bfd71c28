// SPDX-License-Identifier: GPL-3.0-or-later
// Picture names as the console spells them ("img\arrow2.PNG", "img/Mode1.png",
// "img\mode1.png") are matched against the file system whatever the separator
// and the letter case.
#pragma once

#include <string>

// The path of an existing file that Name designates, relative to the current
// directory, else below one of the program's data folders (DataFolders() in
// AppPaths.h: beside the executable, the installed data folder); when none
// matches, Name with "/" separators (so the load error names the file that
// was looked for).
std::string ResolvePictureName(const std::string& Name);
