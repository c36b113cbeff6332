; The installer of the Windows program: Program Files, a Start-menu entry
; named in the user's language, an uninstaller. makensis gets /DSTAGE=<the
; staged files> /DOUTFILE=<setup.exe> /DVERSION=<file version>.
Unicode true
SetCompressor /SOLID lzma

!define PRODUCT "KORVA Instrument Upgrader"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\KORVA\Instrument Upgrader"
RequestExecutionLevel admin
ShowInstDetails show
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "CompanyName" "KORVA Instruments GmbH"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "© KORVA Instruments GmbH"

; The first language file loaded is the fallback for every other language.
LoadLanguageFile "${NSISDIR}\Contrib\Language files\English.nlf"
LoadLanguageFile "${NSISDIR}\Contrib\Language files\German.nlf"
LangString MenuEntry ${LANG_ENGLISH} "Instrument Upgrader"
LangString MenuEntry ${LANG_GERMAN} "Firmware-Aktualisierung"
LangString UninstallEntry ${LANG_ENGLISH} "Uninstall Instrument Upgrader"
LangString UninstallEntry ${LANG_GERMAN} "Firmware-Aktualisierung entfernen"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    File "${STAGE}\korva-upgrader.exe"
    File "${STAGE}\README-Windows.txt"
    SetOutPath "$INSTDIR\licences"
    File "${STAGE}\licences\*.txt"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateDirectory "$SMPROGRAMS\KORVA"
    CreateShortcut "$SMPROGRAMS\KORVA\$(MenuEntry).lnk" "$INSTDIR\korva-upgrader.exe"
    CreateShortcut "$SMPROGRAMS\KORVA\$(UninstallEntry).lnk" "$INSTDIR\uninstall.exe"

    ; The uninstaller removes the entries under the names they were given,
    ; whatever language it runs in.
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "KORVA Instruments GmbH"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\korva-upgrader.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "MenuEntry" "$(MenuEntry)"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallEntry" "$(UninstallEntry)"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "MenuEntry"
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "UninstallEntry"
    StrCmp $0 "" +2
    Delete "$SMPROGRAMS\KORVA\$0.lnk"
    StrCmp $1 "" +2
    Delete "$SMPROGRAMS\KORVA\$1.lnk"
    RMDir "$SMPROGRAMS\KORVA"

    Delete "$INSTDIR\korva-upgrader.exe"
    Delete "$INSTDIR\README-Windows.txt"
    Delete "$INSTDIR\licences\*.txt"
    RMDir "$INSTDIR\licences"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    RMDir "$INSTDIR\.."
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
