; Our own setup program: the search entry beside the player that MainApp names, through
; kvshellsearch.nsh, silent with /S, listed in Add/Remove Programs, with an uninstaller beside
; the module (also silent with /S). Built by installer/CMakeLists.txt:
;   makensis -DKvSetupVersion=1.0.0 -DKvSetupOutFile=kvshellsearch-1.0.0-setup.exe
;            -DKvShellSearchModule32=... -DKvShellSearchModule64=... -DKvShellSearchShellfind64=...
;            kvshellsearch-setup.nsi
Unicode false
SetCompressor /SOLID lzma
Name "Kestrovane Search Shell Extension"
OutFile "${KvSetupOutFile}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
; The uninstaller keeps its own time stamp out of the bytes: the same sources, the same file.
SetDateSave off

!include "kvshellsearch.nsh"

!define KvSetupUninstallKey "Software\Microsoft\Windows\CurrentVersion\Uninstall\KvShellSearch"
!define KvSetupUninstaller "kvshellsearch-uninstall.exe"

VIProductVersion "${KvSetupVersion}.0"
VIAddVersionKey "ProductName" "Kestrovane Search Shell Extension"
VIAddVersionKey "CompanyName" "Tessalquorin"
VIAddVersionKey "FileDescription" "Find/Search menu entry for Kestrovane: setup"
VIAddVersionKey "FileVersion" "${KvSetupVersion}"
VIAddVersionKey "ProductVersion" "${KvSetupVersion}"
VIAddVersionKey "LegalCopyright" "Tessalquorin"

Page instfiles
UninstPage instfiles

; Beside the player, wherever it is: /D= is not asked for, since the module registers the
; directory MainApp names whatever directory it is copied to.
Function .onInit
    !insertmacro KvShellSearchPlayerDirectory $INSTDIR
    ${If} $INSTDIR == ""
        MessageBox MB_OK|MB_ICONSTOP "Kestrovane is not installed: its path (HKCR\${KvShellSearchMainAppKey}) is not written or names no existing file. Install the player first." /SD IDOK
        SetErrorLevel 2
        Abort
    ${EndIf}
FunctionEnd

Section
    !insertmacro KvShellSearchInstall "$INSTDIR"
    WriteUninstaller "$INSTDIR\${KvSetupUninstaller}"
    WriteRegStr HKLM "${KvSetupUninstallKey}" "DisplayName" "Kestrovane Search Shell Extension"
    WriteRegStr HKLM "${KvSetupUninstallKey}" "DisplayVersion" "${KvSetupVersion}"
    WriteRegStr HKLM "${KvSetupUninstallKey}" "Publisher" "Tessalquorin"
    WriteRegStr HKLM "${KvSetupUninstallKey}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${KvSetupUninstallKey}" "UninstallString" '"$INSTDIR\${KvSetupUninstaller}"'
    WriteRegStr HKLM "${KvSetupUninstallKey}" "QuietUninstallString" '"$INSTDIR\${KvSetupUninstaller}" /S'
    WriteRegDWORD HKLM "${KvSetupUninstallKey}" "NoModify" 1
    WriteRegDWORD HKLM "${KvSetupUninstallKey}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    !insertmacro KvShellSearchUninstall "$INSTDIR"
    DeleteRegKey HKLM "${KvSetupUninstallKey}"
    Delete "$INSTDIR\${KvSetupUninstaller}"
SectionEnd
