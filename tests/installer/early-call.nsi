; A faulty vendor installer: it calls KvShellSearchInstall without writing MainApp first. The
; include must stop it before anything of ours is written.
Unicode false
Name "Early Call"
OutFile "early-call-setup.exe"
InstallDir "$PROGRAMFILES\Early Call"
RequestExecutionLevel admin
!include "kvshellsearch.nsh"
Section
    SetOutPath "$INSTDIR"
    File "player.exe"
    !insertmacro KvShellSearchInstall "$INSTDIR"
SectionEnd
