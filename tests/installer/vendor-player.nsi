; A player vendor's own NSIS installer, as a vendor writes it: the player, its MainApp preference
; (in both registry views on 64-bit Windows), and the search entry through kvshellsearch.nsh,
; which lies beside this script with kvshellsearch.dll, kvshellsearch64.dll and shellfind64.exe.
;   makensis vendor-player.nsi
Unicode false
Name "Vendor Player"
OutFile "vendor-player-setup.exe"
InstallDir "$PROGRAMFILES\Vendor Player"
RequestExecutionLevel admin

!include "kvshellsearch.nsh"

!define MainAppKey "Software\Tessalquorin\Kestrovane\6.0\Preferences\MainApp"

Page directory
Page instfiles
UninstPage instfiles

Section "Player"
    SetOutPath "$INSTDIR"
    File "player.exe"
    WriteUninstaller "$INSTDIR\uninst.exe"
    WriteRegStr HKCR "${MainAppKey}" "" '"$INSTDIR\player.exe"'
    ${If} ${KvShellSearchRunningX64}
        SetRegView 64
        WriteRegStr HKCR "${MainAppKey}" "" '"$INSTDIR\player.exe"'
        SetRegView lastused
    ${EndIf}
    !insertmacro KvShellSearchInstall "$INSTDIR"
SectionEnd

Section "Uninstall"
    !insertmacro KvShellSearchUninstall "$INSTDIR"
    DeleteRegKey HKCR "${MainAppKey}"
    ${If} ${KvShellSearchRunningX64}
        SetRegView 64
        DeleteRegKey HKCR "${MainAppKey}"
        SetRegView lastused
    ${EndIf}
    Delete "$INSTDIR\player.exe"
    Delete "$INSTDIR\uninst.exe"
    RMDir "$INSTDIR"
SectionEnd
