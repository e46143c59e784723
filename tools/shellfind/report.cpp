#include "report.h"

void Report::Line(const char* status, const char* scope, const char* fix, const char* text)
{
    if (fix != nullptr)
        Print("%s %s: %s -- %s\n", status, scope, text, fix);
    else
        Print("%s %s: %s\n", status, scope, text);
}

void Report::AddFault(bool counted, ::ExitCode code, unsigned repair, const char* fix,
    const char* scope, const char* text)
{
    if (!counted) {
        Print("note  %s: %s (not counted: no shell on this system reads this view) -- %s\n", scope,
            text, fix);
        return;
    }
    Line("FAULT", scope, fix, text);
    repairs_ |= repair;
    unrepairable_ = unrepairable_ || repair == 0;
    if (faults_++ == 0)
        firstFault_ = code;
}

int Report::ExitCode() const
{
    if (faults_ != 0)
        return firstFault_;
    return skips_ != 0 ? Incomplete : Success;
}
