// Why an entry of the shell's Find menu does not show or does not work, checked on this machine
// in every registry view it has: one line per check, "ok", "FAULT" (with what to do), "note" or
// "skip". Each fault carries what shellfind repair does to mend it, if it can.
#pragma once

class Report;
struct RepairPlan;

// Every check for the entry, reported line by line; plan: what repair may do in the view the
// system's shell reads.
void CheckEntry(const char* name, Report& report, RepairPlan& plan);
// The closing lines; returns the exit code: Success when every check is ok, else the code of the
// first fault.
int SumUp(const char* name, const Report& report);
// CheckEntry and SumUp.
int Doctor(const char* name);
