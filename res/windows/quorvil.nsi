; The Quorvil installer: a 64-bit, per-user install that asks for no administrator rights, so that
; the program folder stays writable for the script file the video tool reads.
;   makensis -DSTAGE=<folder with the files> -DOUTFILE=<setup.exe> -DICON=<.ico> -DVERSION=1.5 quorvil.nsi
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

Name "Quorvil ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Quorvil"
Icon "${ICON}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvil"
; Quorvil under "Open with" for .avi files, for the installing user: the program, what it opens,
; and its place in the extension's list.
!define APP_KEY "Software\Classes\Applications\quorvil.exe"
!define AVI_OPEN_WITH "Software\Classes\.avi\OpenWithList"

; Our tools are installed unless the folder holds a vdub.exe or sox.exe of the user's own (one that
; is not the file an earlier install put there), and the uninstaller removes them only while they
; are still ours. A tool is known as ours by its file time, recorded at install.
!macro InstallOurTool ID NAME
    IfFileExists "$INSTDIR\${NAME}" 0 install_${ID}
    GetFileTime "$INSTDIR\${NAME}" $0 $1
    ReadRegStr $2 HKCU "${UNINSTALL_KEY}" "${NAME}"
    StrCmp $2 "$0 $1" install_${ID}
    DetailPrint "Keeping your own ${NAME}"
    Goto done_${ID}
install_${ID}:
    File "${STAGE}/${NAME}"
    GetFileTime "$INSTDIR\${NAME}" $0 $1
    WriteRegStr HKCU "${UNINSTALL_KEY}" "${NAME}" "$0 $1"
done_${ID}:
!macroend

!macro RemoveOurTool NAME
    ClearErrors
    GetFileTime "$INSTDIR\${NAME}" $0 $1
    ReadRegStr $2 HKCU "${UNINSTALL_KEY}" "${NAME}"
    IfErrors +3
    StrCmp $2 "$0 $1" 0 +2
    Delete "$INSTDIR\${NAME}"
!macroend

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section
    SetOutPath "$INSTDIR"
    File "${STAGE}/quorvil.exe"
    File "${STAGE}/quorvil-split.exe"
    File "${STAGE}/TOOLS.txt"
    File "${STAGE}/LICENSE.FFmpeg.txt"
    File "${STAGE}/LICENSE.libsndfile.txt"
    !insertmacro InstallOurTool vdub vdub.exe
    !insertmacro InstallOurTool sox sox.exe
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateDirectory "$SMPROGRAMS\Quorvil"
    CreateShortcut "$SMPROGRAMS\Quorvil\Quorvil.lnk" "$INSTDIR\quorvil.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Quorvil ${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quorvil.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegStr HKCU "${APP_KEY}" "FriendlyAppName" "Quorvil"
    WriteRegStr HKCU "${APP_KEY}\shell\open\command" "" '"$INSTDIR\quorvil.exe" "%1"'
    WriteRegStr HKCU "${APP_KEY}\SupportedTypes" ".avi" ""
    WriteRegStr HKCU "${AVI_OPEN_WITH}\quorvil.exe" "" ""
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)' ; the associations changed
SectionEnd

Section "Uninstall"
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
    Delete "$SMPROGRAMS\Quorvil\Quorvil.lnk"
    RMDir "$SMPROGRAMS\Quorvil"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    DeleteRegKey HKCU "${APP_KEY}"
    DeleteRegKey HKCU "${AVI_OPEN_WITH}\quorvil.exe"
    DeleteRegKey /ifempty HKCU "${AVI_OPEN_WITH}"
    DeleteRegKey /ifempty HKCU "Software\Classes\.avi"
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
    ; What runs leave when they are ended outright: reasons of the tools that were never read, and
    ; the folder of the entries' records, removed only when empty: a record names what a killed run
    ; made, for a later run to take back.
    Delete "$TEMP\Quorvil tool reasons\reason-*.txt"
    RMDir "$TEMP\Quorvil tool reasons"
    RMDir "$LOCALAPPDATA\Quorvil"
SectionEnd
