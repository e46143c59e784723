// The doctor's lines: "ok", "FAULT" (with what to do and who can do it), "note" (worth knowing,
// but the entry shows and works) and "skip" (a check that could not be made here).
#pragma once

#include "console.h"
#include "exit_codes.h"

class Report {
public:
    template <typename... Arguments>
    void Ok(const char* scope, const char* format, Arguments... arguments)
    {
        Line("ok   ", scope, nullptr, Format(format, arguments...).text);
    }
    template <typename... Arguments>
    void Note(const char* scope, const char* format, Arguments... arguments)
    {
        Line("note ", scope, nullptr, Format(format, arguments...).text);
    }
    // counted: a fault in a registry view that the system's shell reads. A fault in a view no
    // shell reads is printed as a note and changes no exit code. repair: the RepairActions that
    // shellfind repair carries out to mend it, NoRepair (0) when it cannot.
    template <typename... Arguments>
    void Fault(bool counted, ::ExitCode code, unsigned repair, const char* fix, const char* scope,
        const char* format, Arguments... arguments)
    {
        AddFault(counted, code, repair, fix, scope, Format(format, arguments...).text);
    }
    // A check the verdict depends on that could not be made: exit 0 is then not given. In a view
    // no shell reads (counted false) it is a note: that view decides nothing.
    template <typename... Arguments>
    void Skip(bool counted, const char* scope, const char* format, Arguments... arguments)
    {
        if (!counted) {
            Print("note  %s: %s (not counted: no shell on this system reads this view)\n", scope,
                Format(format, arguments...).text);
            return;
        }
        Line("skip ", scope, nullptr, Format(format, arguments...).text);
        ++skips_;
    }

    int Faults() const { return faults_; }
    // Whether repair mends every counted fault, and what it does for them.
    bool Repairable() const { return faults_ != 0 && !unrepairable_; }
    unsigned Repairs() const { return repairs_; }
    int Skips() const { return skips_; }
    // The first counted fault's code; Incomplete when only skips stand in the way; else Success.
    int ExitCode() const;

private:
    struct Text {
        char text[4096];
    };
    template <typename... Arguments> static Text Format(const char* format, Arguments... arguments)
    {
        Text text = {};
        FormatText(text.text, sizeof text.text, format, arguments...);
        return text;
    }
    static void Line(const char* status, const char* scope, const char* fix, const char* text);
    void AddFault(bool counted, ::ExitCode code, unsigned repair, const char* fix,
        const char* scope, const char* text);

    int faults_ = 0;
    int skips_ = 0;
    int firstFault_ = Success;
    unsigned repairs_ = 0;
    bool unrepairable_ = false;
};
