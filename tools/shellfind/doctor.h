// Why an entry of the shell's Find menu does not show or does not work, checked on this machine
// in every registry view it has: one line per check, "ok", "FAULT" (with what to do) or "skip".
#pragma once

// Returns Success when every check is ok, else the exit code of the first fault.
int Doctor(const char* name);
