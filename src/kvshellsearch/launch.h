// Starting the player in its search mode.
#pragma once

#include <windows.h>

// Starts the player named by the MainApp preference, quoted, with " /search".
// S_OK when the player was started, E_FAIL otherwise.
HRESULT LaunchPlayerSearch();
