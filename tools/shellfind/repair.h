// shellfind repair: the doctor's checks; where every fault is one this user may mend, the mends,
// after a REGEDIT4 backup of what they change; then the doctor again.
#pragma once

// Returns the exit code of the last doctor's run: Success when the entry shows and works.
int Repair(const char* name, bool dryRun);
