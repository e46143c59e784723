// What the installer tests share (Windows Installer packages and NSIS installers): the approval
// list our installers extend, another extension's value in it, and paths.
#pragma once

#include <windows.h>

#include <string>

#include "support/test_support.h"

// The approval list of "Only allow approved Shell extensions", which the packages extend by our
// class and regsvr32 leaves alone; another extension's value in it must survive our uninstall.
constexpr char ApprovedKey[]
    = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
constexpr char NeighbourClass[] = "{0F0E0D0C-0B0A-0908-0706-050403020100}";
// A class's approval value in one registry view, as "type:bytes", or "(none)".
std::string Approval(REGSAM view, const char* classId = ClassIdText);
// Our class's approval as our installers write it.
extern const std::string Approved;
void ApproveNeighbour(REGSAM view);

std::string Quoted(const std::string& text);
bool FileExists(const std::string& path);
