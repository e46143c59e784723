#include "launch.h"

#include "preferences.h"
#include "text.h"

static constexpr char SearchSwitch[] = " /search";
static constexpr DWORD SearchSwitchLength = sizeof SearchSwitch - 1;

PlayerCommand MakePlayerCommand(const char* product, REGSAM view)
{
    // The opening quote stands in front of the path before it is read.
    PlayerCommand command = {};
    char* text = command.text;
    text[0] = '"';
    command.start = 1;
    command.read = ReadMainApp(product, view, text + 1, TextBufferSize - 1);
    if (command.read.result != TextReadResult::Read) {
        command.outcome = PlayerCommand::NoPath;
        return command;
    }

    DWORD length = static_cast<DWORD>(TextLength(text));
    DWORD room = (TextBufferSize - 1) - length;

    // A path stored with its own quotes is taken as it is; otherwise wrap it, so that a path
    // with spaces names that program and not a shorter one in front of the first space.
    if (text[1] != '"' && room != 0) {
        text[length++] = '"';
        --room;
        command.start = 0;
    }
    if (room < SearchSwitchLength) {
        command.outcome = PlayerCommand::TooLong;
        return command;
    }
    CopyBytes(text + length, SearchSwitch, sizeof SearchSwitch);
    command.outcome = PlayerCommand::Ready;
    return command;
}

HRESULT LaunchPlayerSearch()
{
    const PlayerCommand command = MakePlayerCommand(GetProductName(), 0);
    if (command.outcome != PlayerCommand::Ready)
        return E_FAIL;
    return WinExec(command.Line(), SW_SHOWDEFAULT) > 31 ? S_OK : E_FAIL;
}
