// The customer's shellfind: the windowed build, started without arguments (a double-click, or
// Start > Run), checks the entry as the doctor does and says in a window, in plain words, whether
// it works; where repair may mend it, it asks first and mends as shellfind repair does, backup
// included; otherwise it says who can. Then it offers to save the doctor's full text for support.
#pragma once

// Returns the exit code of the last check, as shellfind doctor and repair do.
int CustomerWindow();
