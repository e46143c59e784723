// The doctor's first line: which Windows this is, whether it has a Find/Search menu at all, and
// where the entry shows in it.
#pragma once

class Report;

// A 64-bit Windows, whether this shellfind is its 32-bit or its 64-bit build.
bool SystemIs64Bit();
// Reports the system line; false when the system has no Find/Search menu (nothing more to check).
bool CheckSystem(Report& report, bool is64Bit);
