// Starting the player in its search mode.
#pragma once

#include <windows.h>

#include "kvshellsearch.h"
#include "registry_access.h"

// The command line handed to WinExec: the MainApp path, wrapped in quotes unless it begins with
// one, then " /search".
struct PlayerCommand {
    enum Outcome { Ready, NoPath, TooLong } outcome;
    TextReadFacts read; // of the MainApp preference
    char text[TextBufferSize];
    size_t start; // where the command line begins in text
    const char* Line() const { return text + start; }
};

// Reads MainApp for a product name and registry view and builds the command from it. The module
// starts what this gives; the doctor checks it.
PlayerCommand MakePlayerCommand(const char* product, REGSAM view);

// Starts the player named by the MainApp preference, quoted, with " /search".
// S_OK when the player was started, E_FAIL otherwise.
HRESULT LaunchPlayerSearch();
