; The Quorvil installer: a 64-bit, per-user install that asks for no administrator rights, so that
; the program folder stays writable for the script file the video tool reads.
;   makensis -DSTAGE=<folder with the files> -DOUTFILE=<setup.exe> -DICON=<.ico> -DVERSION=1.5 quorvil.nsi
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include FileFunc.nsh
!include LogicLib.nsh
!include MUI2.nsh

Name "Quorvil ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Quorvil"

!define PUBLISHER "The Quorvil team"
!define UNINSTALL_ROOT "Software\Microsoft\Windows\CurrentVersion\Uninstall"
!define AVI_PROGIDS "Software\Classes\.avi\OpenWithProgids"

; Installs in different folders live side by side: each has an entry of its own in the installed-apps
; list and its own "Open with" type, and its uninstaller takes only those. Both are named by a hash of
; the folder's long name in lower case, so that the uninstaller finds them however the folder is spelled.
Var Id
Var Key    ; the install's entry in the installed-apps list, which also records what it owns
Var ProgId ; Quorvil under "Open with" for .avi files
!macro InstallNames UN
Function ${UN}InstallNames
    System::Call 'kernel32::GetLongPathNameW(w "$INSTDIR", w .r0, i ${NSIS_MAX_STRLEN}) i .r1'
    ${IfThen} $1 = 0 ${|} StrCpy $0 $INSTDIR ${|}
    System::Call 'user32::CharLowerW(w r0 r0)'
    StrLen $1 $0
    IntOp $1 $1 * 2
    System::Call 'shlwapi::HashData(w r0, i r1, *i .r2, i 4)'
    IntFmt $Id "%08X" $2
    StrCpy $Key "${UNINSTALL_ROOT}\Quorvil-$Id"
    StrCpy $ProgId "Quorvil.avi.$Id"
FunctionEnd
!macroend
!insertmacro InstallNames ""
!insertmacro InstallNames "un."

; Our tools are installed unless the folder holds a vdub.exe or sox.exe of the user's own (one that
; is not the file an earlier install put there), and the uninstaller removes them only while they
; are still ours. A tool is known as ours by its file time, recorded at install.
!macro InstallOurTool ID NAME
    IfFileExists "$INSTDIR\${NAME}" 0 install_${ID}
    GetFileTime "$INSTDIR\${NAME}" $0 $1
    ReadRegStr $2 HKCU $Key "${NAME}"
    StrCmp $2 "$0 $1" install_${ID}
    DetailPrint "Keeping your own ${NAME}"
    Goto done_${ID}
install_${ID}:
    File "${STAGE}/${NAME}"
    GetFileTime "$INSTDIR\${NAME}" $0 $1
    WriteRegStr HKCU $Key "${NAME}" "$0 $1"
done_${ID}:
!macroend

!macro RemoveOurTool NAME
    ClearErrors
    GetFileTime "$INSTDIR\${NAME}" $0 $1
    ReadRegStr $2 HKCU $Key "${NAME}"
    IfErrors +3
    StrCmp $2 "$0 $1" 0 +2
    Delete "$INSTDIR\${NAME}"
!macroend

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\quorvil.exe"
!define MUI_FINISHPAGE_RUN_TEXT "&Run Quorvil"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Both the installer and the uninstaller it writes carry these.
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Quorvil"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Quorvil ${VERSION} installation"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${PUBLISHER}"

Section
    ; The outermost folder this install makes, for the uninstaller to remove again once empty.
    StrCpy $0 $INSTDIR
    StrCpy $R0 ""
    ${DoUntil} ${FileExists} "$0\*.*"
        StrCpy $R0 $0
        ${GetParent} $0 $0
        ${IfThen} $0 == "" ${|} ${ExitDo} ${|}
    ${Loop}
    SetOutPath "$INSTDIR"
    Call InstallNames
    ${If} $R0 != ""
        WriteRegStr HKCU $Key "MadeFolder" $R0
    ${EndIf}
    ; An install in this folder by an earlier installer, whose entry was "Quorvil" and whose "Open
    ; with" went by the program's name: this one takes its place, with its tools and its Start-menu entry.
    ReadRegStr $0 HKCU "${UNINSTALL_ROOT}\Quorvil" "UninstallString"
    ${If} $0 == '"$INSTDIR\Uninstall.exe"'
        ReadRegStr $0 HKCU "${UNINSTALL_ROOT}\Quorvil" "vdub.exe"
        WriteRegStr HKCU $Key "vdub.exe" $0
        ReadRegStr $0 HKCU "${UNINSTALL_ROOT}\Quorvil" "sox.exe"
        WriteRegStr HKCU $Key "sox.exe" $0
        WriteRegStr HKCU $Key "StartMenuEntry" "Quorvil"
        DeleteRegKey HKCU "${UNINSTALL_ROOT}\Quorvil"
        DeleteRegKey HKCU "Software\Classes\Applications\quorvil.exe"
        DeleteRegKey HKCU "Software\Classes\.avi\OpenWithList\quorvil.exe"
        DeleteRegKey /ifempty HKCU "Software\Classes\.avi\OpenWithList"
    ${EndIf}
    File "${STAGE}/quorvil.exe"
    File "${STAGE}/quorvil-split.exe"
    File "${STAGE}/TOOLS.txt"
    File "${STAGE}/LICENSE.FFmpeg.txt"
    File "${STAGE}/LICENSE.libsndfile.txt"
    !insertmacro InstallOurTool vdub vdub.exe
    !insertmacro InstallOurTool sox sox.exe
    WriteUninstaller "$INSTDIR\Uninstall.exe"

    ; A Start-menu entry of its own: "Quorvil", or "Quorvil 2"... when another install has that name.
    ReadRegStr $R1 HKCU $Key "StartMenuEntry"
    ${If} $R1 == ""
        StrCpy $R1 "Quorvil"
        StrCpy $0 1
        ${DoWhile} ${FileExists} "$SMPROGRAMS\Quorvil\$R1.lnk"
            IntOp $0 $0 + 1
            StrCpy $R1 "Quorvil $0"
        ${Loop}
    ${EndIf}
    CreateDirectory "$SMPROGRAMS\Quorvil"
    CreateShortcut "$SMPROGRAMS\Quorvil\$R1.lnk" "$INSTDIR\quorvil.exe" "" "" "" "" "" "Quorvil in $INSTDIR"
    WriteRegStr HKCU $Key "StartMenuEntry" $R1

    StrCpy $0 "Quorvil ${VERSION}"
    ${If} $INSTDIR != "$LOCALAPPDATA\Programs\Quorvil"
        StrCpy $0 "$0 ($INSTDIR)"
    ${EndIf}
    WriteRegStr HKCU $Key "DisplayName" $0
    WriteRegStr HKCU $Key "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU $Key "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU $Key "DisplayIcon" "$INSTDIR\quorvil.exe"
    WriteRegStr HKCU $Key "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU $Key "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegDWORD HKCU $Key "NoModify" 1
    WriteRegDWORD HKCU $Key "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU $Key "EstimatedSize" $0

    WriteRegStr HKCU "Software\Classes\$ProgId\shell\open" "FriendlyAppName" "Quorvil"
    WriteRegStr HKCU "Software\Classes\$ProgId\shell\open\command" "" '"$INSTDIR\quorvil.exe" "%1"'
    WriteRegStr HKCU "${AVI_PROGIDS}" $ProgId ""
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)' ; the associations changed
SectionEnd

Section "Uninstall"
    Call un.InstallNames
    ; What the installer put there; the user's own vdub.exe and sox.exe stay, and the folder with them.
    Delete "$INSTDIR\quorvil.exe"
    Delete "$INSTDIR\quorvil-split.exe"
    Delete "$INSTDIR\TOOLS.txt"
    Delete "$INSTDIR\LICENSE.FFmpeg.txt"
    Delete "$INSTDIR\LICENSE.libsndfile.txt"
    !insertmacro RemoveOurTool vdub.exe
    !insertmacro RemoveOurTool sox.exe
    Delete "$INSTDIR\temp.vdf"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    ; The folders above it that the installer made, each while it is left empty.
    ReadRegStr $1 HKCU $Key "MadeFolder"
    StrCpy $0 $INSTDIR
    ${DoWhile} $1 != ""
        ${IfThen} $0 == $1 ${|} ${ExitDo} ${|}
        ${GetParent} $0 $0
        ${IfThen} $0 == "" ${|} ${ExitDo} ${|}
        RMDir $0
        ${IfThen} ${FileExists} "$0\*.*" ${|} ${ExitDo} ${|}
    ${Loop}
    ReadRegStr $1 HKCU $Key "StartMenuEntry"
    ${If} $1 != ""
        Delete "$SMPROGRAMS\Quorvil\$1.lnk"
    ${EndIf}
    RMDir "$SMPROGRAMS\Quorvil"
    DeleteRegKey HKCU $Key
    DeleteRegKey HKCU "Software\Classes\$ProgId"
    DeleteRegValue HKCU "${AVI_PROGIDS}" $ProgId
    DeleteRegKey /ifempty HKCU "${AVI_PROGIDS}"
    DeleteRegKey /ifempty HKCU "Software\Classes\.avi"
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

    ; What runs leave when they are ended outright, shared by every install, so taken only by the
    ; last one: reasons of the tools that were never read, and the folder of the entries' records,
    ; removed only when empty: a record names what a killed run made, for a later run to take back.
    StrCpy $0 0
    ${Do}
        EnumRegKey $1 HKCU "${UNINSTALL_ROOT}" $0
        StrCpy $2 $1 8
        ${IfThen} $2 == "Quorvil-" ${|} ${ExitDo} ${|}
        ${IfThen} $1 == "Quorvil" ${|} ${ExitDo} ${|}
        IntOp $0 $0 + 1
    ${LoopUntil} $1 == ""
    ${If} $1 == ""
        Delete "$TEMP\Quorvil tool reasons\reason-*.txt"
        RMDir "$TEMP\Quorvil tool reasons"
        RMDir "$LOCALAPPDATA\Quorvil"
    ${EndIf}
SectionEnd
