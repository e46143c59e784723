; The Kestrovane search entry in a player's NSIS installer (ANSI or Unicode, NSIS 3): the module
; beside the player, registered by the module's own registration, approved for "Only allow
; approved Shell extensions", and all of it undone at uninstall.
;
;   !include "kvshellsearch.nsh"
;   Section "Player"
;     ... install the player, write its MainApp preference ...
;     !insertmacro KvShellSearchInstall "$INSTDIR"
;   SectionEnd
;   Section "Uninstall"
;     !insertmacro KvShellSearchUninstall "$INSTDIR"
;     ... remove the player and its preferences ...
;   SectionEnd
;
; KvShellSearchInstall DIR: DIR is the player's directory, where MainApp
; (HKCR\Software\Tessalquorin\Kestrovane\6.0\Preferences\MainApp) must already name the player.
; It puts kvshellsearch.dll there and registers it with RegDLL. On 64-bit Windows it also puts
; kvshellsearch64.dll there and registers it with the 64-bit shellfind, which it unpacks into
; $PLUGINSDIR (a 32-bit installer cannot load a 64-bit DLL); the 64-bit module reads MainApp
; in the 64-bit registry view, so the player must write it there too (SetRegView 64). On NT it
; approves the class in each view it registered. It checks what each registration wrote:
; anything else, a MainApp that is missing or names no player in DIR, a file that cannot be
; written, and it undoes what it did, shows the reason (not when silent) and aborts: a silent
; installer exits with code 2.
;
; KvShellSearchUninstall DIR: in reverse, for each bitness: the approval and the registration go
; when the class still names our module in DIR (another installation's are left alone; an
; approval without a class goes too), and the module file goes (at the next restart when a shell
; still has it loaded).
;
; KvShellSearchPlayerDirectory VAR: the directory MainApp names, or "" when it names no
; existing file; for an installer that, like ours, installs beside whatever player is there.
;
; Inputs, with !define before the !include; by default the files lie beside this one:
;   KvShellSearchModule32   the 32-bit DLL          (kvshellsearch.dll)
;   KvShellSearchModule64   the 64-bit DLL          (kvshellsearch64.dll)
;   KvShellSearchShellfind64 the 64-bit shellfind   (shellfind64.exe)
;
; No plugin, and nothing Windows 95 lacks, on 32-bit Windows.
!ifndef KV_SHELL_SEARCH_NSH
!define KV_SHELL_SEARCH_NSH

!include LogicLib.nsh
!include WinVer.nsh

!ifndef KvShellSearchModule32
!define KvShellSearchModule32 "${__FILEDIR__}\kvshellsearch.dll"
!endif
!ifndef KvShellSearchModule64
!define KvShellSearchModule64 "${__FILEDIR__}\kvshellsearch64.dll"
!endif
!ifndef KvShellSearchShellfind64
!define KvShellSearchShellfind64 "${__FILEDIR__}\shellfind64.exe"
!endif

!define KvShellSearchMainAppKey "Software\Tessalquorin\Kestrovane\6.0\Preferences\MainApp"
!define KvShellSearchServerKey "CLSID\{5E3C1A77-0B94-4F2D-9A61-7C2E8D40B513}\InProcServer32"
!define KvShellSearchClassKey "CLSID\{5E3C1A77-0B94-4F2D-9A61-7C2E8D40B513}"
!define KvShellSearchClassId "{5E3C1A77-0B94-4F2D-9A61-7C2E8D40B513}"
!define KvShellSearchApprovedKey "SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved"

Var KvShellSearchDir
Var KvShellSearchShortDir
Var KvShellSearchText
Var KvShellSearchChar
Var KvShellSearchCode
Var KvShellSearchFailure
Var KvShellSearch64
Var KvShellSearchWritten
Var KvShellSearchReason

; OUT: the directory of the file MainApp names in the current registry view, quotes dropped,
; as MainApp writes it; "" when MainApp is missing or names no existing file. OUT may be any
; variable but $KvShellSearchChar and $KvShellSearchCode, which this uses.
!macro _KvShellSearchMainAppDirectory OUT
    ClearErrors
    ReadRegStr ${OUT} HKCR "${KvShellSearchMainAppKey}" ""
    ${If} ${Errors}
        StrCpy ${OUT} ""
    ${EndIf}
    StrCpy $KvShellSearchCode ${OUT} 1
    ${If} $KvShellSearchCode == '"'
        StrCpy ${OUT} ${OUT} "" 1
        StrCpy $KvShellSearchCode 0
        ${Do}
            StrCpy $KvShellSearchChar ${OUT} 1 $KvShellSearchCode
            ${IfThen} $KvShellSearchChar == '"' ${|} ${ExitDo} ${|}
            ${IfThen} $KvShellSearchChar == "" ${|} ${ExitDo} ${|}
            IntOp $KvShellSearchCode $KvShellSearchCode + 1
        ${Loop}
        StrCpy ${OUT} ${OUT} $KvShellSearchCode
    ${EndIf}
    ${IfNot} ${FileExists} ${OUT}
    ${OrIf} ${FileExists} "${OUT}\*.*"
        StrCpy ${OUT} ""
    ${EndIf}
    ; The system splits the path, by characters: NSIS's own string functions count bytes, and in
    ; a double-byte code page (932, 936, 950) a character's second byte can be a "\". A drive's
    ; root comes back as "C:\", which loses its "\" as the directory did before.
    ${If} ${OUT} != ""
        GetFullPathName ${OUT} "${OUT}\.."
        StrLen $KvShellSearchCode ${OUT}
        ${If} $KvShellSearchCode == 3
            StrCpy ${OUT} ${OUT} 2
        ${EndIf}
    ${EndIf}
!macroend

!macro KvShellSearchPlayerDirectory OUT
    !insertmacro _KvShellSearchMainAppDirectory $KvShellSearchFailure
    StrCpy ${OUT} $KvShellSearchFailure
    StrCpy $KvShellSearchFailure ""
!macroend

; Sets $KvShellSearchFailure unless MainApp, in the current view, names a file in
; $KvShellSearchDir. Both are compared in their short forms: one directory, however written.
!macro _KvShellSearchCheckMainApp VIEW
    !insertmacro _KvShellSearchMainAppDirectory $KvShellSearchText
    ${If} $KvShellSearchText != ""
        GetFullPathName /SHORT $KvShellSearchText $KvShellSearchText
    ${EndIf}
    ${If} $KvShellSearchText == ""
        StrCpy $KvShellSearchFailure "The player's path (HKCR\${KvShellSearchMainAppKey}${VIEW}) is not written or names no existing file. Write it before KvShellSearchInstall."
    ${ElseIf} $KvShellSearchText != $KvShellSearchShortDir
        StrCpy $KvShellSearchFailure "The player's path (HKCR\${KvShellSearchMainAppKey}${VIEW}) names a file outside $KvShellSearchDir, where the search entry was to be installed."
    ${EndIf}
!macroend

; Sets $KvShellSearchFailure unless the class's registered module, in the current view, is FILE.
!macro _KvShellSearchCheckRegistered FILE
    ReadRegStr $KvShellSearchText HKCR "${KvShellSearchServerKey}" ""
    GetFullPathName /SHORT $KvShellSearchCode $KvShellSearchText
    GetFullPathName /SHORT $KvShellSearchFailure "${FILE}"
    ${If} $KvShellSearchCode == ""
    ${OrIf} $KvShellSearchCode != $KvShellSearchFailure
        StrCpy $KvShellSearchFailure "The registration of ${FILE} did not name that file (it wrote the class's module as $\"$KvShellSearchText$\")."
    ${Else}
        StrCpy $KvShellSearchFailure ""
    ${EndIf}
!macroend

; The approval, on NT only: the policy it answers came with Windows 2000, and Windows 9x has no
; such list. The data is the class's name as the module registered it.
!macro _KvShellSearchApprove
    ${If} ${IsNT}
        ReadRegStr $KvShellSearchText HKCR "${KvShellSearchClassKey}" ""
        WriteRegStr HKLM "${KvShellSearchApprovedKey}" "${KvShellSearchClassId}" $KvShellSearchText
    ${EndIf}
!macroend

; One bitness's undoing, in the current view: the approval, then the registration, both while
; the class names our file or no file (another installation's entry keeps its approval), then
; the file.
!macro _KvShellSearchRemove FILE UNREGISTER
    StrCpy $KvShellSearchFailure ""
    !insertmacro _KvShellSearchCheckRegistered "${FILE}"
    ${If} $KvShellSearchFailure == ""
    ${OrIf} $KvShellSearchText == ""
        DeleteRegValue HKLM "${KvShellSearchApprovedKey}" "${KvShellSearchClassId}"
    ${EndIf}
    ${If} $KvShellSearchFailure == ""
        !insertmacro ${UNREGISTER}
    ${EndIf}
    StrCpy $KvShellSearchFailure ""
    Delete /REBOOTOK "${FILE}"
!macroend

!macro _KvShellSearchUnregister32
    UnRegDLL "$KvShellSearchDir\kvshellsearch.dll"
!macroend
!macro _KvShellSearchUnregister64
    ExecWait '"$PLUGINSDIR\shellfind64.exe" unregister "$KvShellSearchDir\kvshellsearch64.dll"' $KvShellSearchCode
!macroend

; ${If} ${KvShellSearchRunningX64}: whether this is 64-bit Windows (x64), where a 32-bit
; process sees PROCESSOR_ARCHITEW6432. No plugin needed, unlike x64.nsh's RunningX64.
!macro _KvShellSearchRunningX64 _a _b _t _f
    !insertmacro _LOGICLIB_TEMP
    ReadEnvStr $_LOGICLIB_TEMP PROCESSOR_ARCHITEW6432
    StrCmp $_LOGICLIB_TEMP "AMD64" `${_t}` `${_f}`
!macroend
!define KvShellSearchRunningX64 `"" KvShellSearchRunningX64 ""`

!macro _KvShellSearchDetect64
    ${If} ${KvShellSearchRunningX64}
        StrCpy $KvShellSearch64 yes
    ${Else}
        StrCpy $KvShellSearch64 no
    ${EndIf}
!macroend

!macro KvShellSearchInstall PLAYER_DIR
    StrCpy $KvShellSearchDir "${PLAYER_DIR}"
    GetFullPathName /SHORT $KvShellSearchShortDir $KvShellSearchDir
    StrCpy $KvShellSearchFailure ""
    StrCpy $KvShellSearchWritten no
    !insertmacro _KvShellSearchDetect64
    !insertmacro _KvShellSearchCheckMainApp ""
    ${If} $KvShellSearch64 == yes
    ${AndIf} $KvShellSearchFailure == ""
        SetRegView 64
        !insertmacro _KvShellSearchCheckMainApp ", in the 64-bit registry view"
        SetRegView lastused
    ${EndIf}
    ${If} $KvShellSearchFailure == ""
        ClearErrors
        File "/oname=$KvShellSearchDir\kvshellsearch.dll" "${KvShellSearchModule32}"
        ${If} ${Errors}
            StrCpy $KvShellSearchFailure "Cannot write $KvShellSearchDir\kvshellsearch.dll."
        ${Else}
            StrCpy $KvShellSearchWritten yes
            ClearErrors
            RegDLL "$KvShellSearchDir\kvshellsearch.dll"
            ${If} ${Errors}
                StrCpy $KvShellSearchFailure "The registration of $KvShellSearchDir\kvshellsearch.dll failed."
            ${Else}
                !insertmacro _KvShellSearchCheckRegistered "$KvShellSearchDir\kvshellsearch.dll"
            ${EndIf}
            ${If} $KvShellSearchFailure == ""
                !insertmacro _KvShellSearchApprove
            ${EndIf}
        ${EndIf}
    ${EndIf}
    ${If} $KvShellSearch64 == yes
    ${AndIf} $KvShellSearchFailure == ""
        SetRegView 64
        InitPluginsDir
        ClearErrors
        File "/oname=$PLUGINSDIR\shellfind64.exe" "${KvShellSearchShellfind64}"
        File "/oname=$KvShellSearchDir\kvshellsearch64.dll" "${KvShellSearchModule64}"
        ${If} ${Errors}
            StrCpy $KvShellSearchFailure "Cannot write $KvShellSearchDir\kvshellsearch64.dll."
        ${Else}
            StrCpy $KvShellSearchCode ""
            ExecWait '"$PLUGINSDIR\shellfind64.exe" register "$KvShellSearchDir\kvshellsearch64.dll"' $KvShellSearchCode
            ${If} $KvShellSearchCode != 0
                StrCpy $KvShellSearchFailure "The registration of $KvShellSearchDir\kvshellsearch64.dll failed (shellfind exit code $KvShellSearchCode)."
            ${Else}
                !insertmacro _KvShellSearchCheckRegistered "$KvShellSearchDir\kvshellsearch64.dll"
            ${EndIf}
            ${If} $KvShellSearchFailure == ""
                !insertmacro _KvShellSearchApprove
            ${Else}
                StrCpy $KvShellSearchReason $KvShellSearchFailure
                !insertmacro _KvShellSearchRemove "$KvShellSearchDir\kvshellsearch64.dll" _KvShellSearchUnregister64
                StrCpy $KvShellSearchFailure $KvShellSearchReason
            ${EndIf}
        ${EndIf}
        SetRegView lastused
    ${EndIf}
    ${If} $KvShellSearchFailure != ""
        ; Nothing half-done stays: the 32-bit half goes too when this run wrote it.
        StrCpy $KvShellSearchReason $KvShellSearchFailure
        ${If} $KvShellSearchWritten == yes
            !insertmacro _KvShellSearchRemove "$KvShellSearchDir\kvshellsearch.dll" _KvShellSearchUnregister32
        ${EndIf}
        StrCpy $KvShellSearchFailure $KvShellSearchReason
        DetailPrint $KvShellSearchFailure
        MessageBox MB_OK|MB_ICONSTOP $KvShellSearchFailure /SD IDOK
        Abort $KvShellSearchFailure
    ${EndIf}
!macroend

!macro KvShellSearchUninstall PLAYER_DIR
    StrCpy $KvShellSearchDir "${PLAYER_DIR}"
    !insertmacro _KvShellSearchDetect64
    ${If} $KvShellSearch64 == yes
        SetRegView 64
        InitPluginsDir
        File "/oname=$PLUGINSDIR\shellfind64.exe" "${KvShellSearchShellfind64}"
        !insertmacro _KvShellSearchRemove "$KvShellSearchDir\kvshellsearch64.dll" _KvShellSearchUnregister64
        SetRegView lastused
    ${EndIf}
    !insertmacro _KvShellSearchRemove "$KvShellSearchDir\kvshellsearch.dll" _KvShellSearchUnregister32
!macroend

!endif
