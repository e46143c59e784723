#include "launch.h"

#include "kvshellsearch.h"
#include "preferences.h"
#include "text.h"

static constexpr char SearchSwitch[] = " /search";
static constexpr DWORD SearchSwitchLength = sizeof SearchSwitch - 1;

HRESULT LaunchPlayerSearch()
{
    // The opening quote stands in front of the path before it is read.
    char command[TextBufferSize] = {};
    command[0] = '"';
    if (!ReadMainAppPath(command + 1, TextBufferSize - 1))
        return E_FAIL;

    DWORD length = static_cast<DWORD>(TextLength(command));
    DWORD room = (TextBufferSize - 1) - length;
    char* commandStart = command + 1;

    // A path stored with its own quotes is taken as it is; otherwise wrap it, so that a path
    // with spaces names that program and not a shorter one in front of the first space.
    if (command[1] != '"' && room != 0) {
        command[length++] = '"';
        --room;
        commandStart = command;
    }
    if (room < SearchSwitchLength)
        return E_FAIL;
    CopyBytes(command + length, SearchSwitch, sizeof SearchSwitch);

    return WinExec(commandStart, SW_SHOWDEFAULT) > 31 ? S_OK : E_FAIL;
}
