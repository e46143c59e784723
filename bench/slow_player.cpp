// A player that is slow to start: it waits KV_PLAYER_START_DELAY_MS milliseconds before its first
// window reads input, and quits soon after. WinExec returns to its caller only once that window
// waits for input (or after the system's time-out).
#include <windows.h>

#include <stdlib.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    char delay[32] = {};
    GetEnvironmentVariableA("KV_PLAYER_START_DELAY_MS", delay, sizeof delay - 1);
    Sleep(static_cast<DWORD>(strtoul(delay, nullptr, 10)));

    HWND window = CreateWindowExA(0, "STATIC", "slow player", WS_OVERLAPPED, 0, 0, 100, 100,
        nullptr, nullptr, instance, nullptr);
    SetTimer(window, 1, 200, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER)
            PostQuitMessage(0);
        DispatchMessageA(&message);
    }
    DestroyWindow(window);
    return 0;
}
