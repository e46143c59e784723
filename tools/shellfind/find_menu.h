// The registered find extensions as a popup menu, drawn the way the shell draws its Find menu:
// the 16x16 icon from each entry's DefaultIcon, then the menu text with its access key
// underlined.
#pragma once

#include <stddef.h>

// Shows the menu at the top left of the screen for at most seconds. Returns true when an entry
// was picked, with its key name in picked.
bool ShowFindMenu(int seconds, char* picked, size_t pickedSize);
