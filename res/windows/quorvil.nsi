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

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section
    SetOutPath "$INSTDIR"
    File "${STAGE}/quorvil.exe"
    File "${STAGE}/quorvil-split.exe"
    File "${STAGE}/TOOLS.txt"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateDirectory "$SMPROGRAMS\Quorvil"
    CreateShortcut "$SMPROGRAMS\Quorvil\Quorvil.lnk" "$INSTDIR\quorvil.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Quorvil ${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quorvil.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    ; What the installer put there; the user's own vdub.exe and sox.exe stay, and the folder with them.
    Delete "$INSTDIR\quorvil.exe"
    Delete "$INSTDIR\quorvil-split.exe"
    Delete "$INSTDIR\TOOLS.txt"
    Delete "$INSTDIR\temp.vdf"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\Quorvil\Quorvil.lnk"
    RMDir "$SMPROGRAMS\Quorvil"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
