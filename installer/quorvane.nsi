; Quorvane Live setup for 64-bit Windows.
;
;   makensis -DSTAGE=/abs/stage -DOUTFILE=/abs/QuorvaneLive-setup.exe
;            [-DICON=/abs/quorvane.ico] installer/quorvane.nsi
;
; makensis runs in this file's folder, so relative paths in the defines are
; taken from here; build-installer.sh passes absolute ones.
; STAGE is the application directory exactly as installed (QuorvaneLive.exe,
; streamconv.dll, Wrappers\, Effects\, Manual.chm ...). Everything in it is
; installed except test programs; the uninstaller deletes the same list of
; files and nothing else.
;
; Command line (standard NSIS): /S silent, /D=C:\path as the last argument.
; A silent install takes the default components: the program, Start menu
; and desktop shortcuts and the "VST Plugins" folder.
; Installing over an earlier installation first runs that installation's own
; uninstaller (in place, silently): files the new version no longer ships go,
; while the user's settings key, plug-ins and other files stay.
; Uninstaller: /S silent, /REMOVESETTINGS also deletes the user's settings
; key; _?=DIR runs it in place instead of from a temporary copy.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true
; Administrators install for every user into Program Files; a standard user
; gets a per-user installation instead of an elevation prompt.
RequestExecutionLevel highest

!ifndef STAGE
  !error "Pass the application directory: -DSTAGE=path"
!endif
!ifndef OUTFILE
  !define OUTFILE "QuorvaneLive-setup.exe"
!endif
!if ! /FileExists "${STAGE}/QuorvaneLive.exe"
  !error "${STAGE}/QuorvaneLive.exe is missing: the stage is not complete"
!endif

!define PRODUCT "Quorvane Live"
; -DVERSION=1.20 builds an otherwise identical setup of an older version
; (the upgrade test installs it first).
!ifndef VERSION
  !define VERSION "1.21"
!endif
!ifndef LICENSE
  !define LICENSE "${__FILEDIR__}/../LICENSE"
!endif
!define PUBLISHER "Quorvane Software"
!define PROGRAM_EXE "QuorvaneLive.exe"
!define UNINSTALLER "Uninst.exe"
!define SETTINGS_PARENT "SOFTWARE\${PUBLISHER}"
!define SETTINGS_PRODUCT "${SETTINGS_PARENT}\${PRODUCT}"
!define SETTINGS_KEY "${SETTINGS_PRODUCT}\1"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT}"
Caption "${PRODUCT} ${VERSION} Setup"
UninstallCaption "${PRODUCT} ${VERSION} Uninstall"
BrandingText "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
; An update goes where the last all-users installation went (/D still wins).
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"

VIProductVersion "${VERSION}.0.0"
VIFileVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) ${PUBLISHER}"

; The list of files to install and to remove is taken from the stage now.
!tempfile INSTALL_FILES_NSH
!tempfile UNINSTALL_FILES_NSH
!if /FileExists "stage-files.sh"
  !define STAGE_FILES "./stage-files.sh"
!else ; makensis /NOCD
  !define STAGE_FILES "${__FILEDIR__}/stage-files.sh"
!endif
!system '"${STAGE_FILES}" "${STAGE}" "${INSTALL_FILES_NSH}" "${UNINSTALL_FILES_NSH}"' = 0

!if /FileExists "${STAGE}/Manual.chm"
  !define HAVE_MANUAL
!endif

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

;--------------------------------------------------------------------------
; Wizard

!define MUI_ABORTWARNING
!define MUI_UNABORTWARNING
!ifdef ICON
  !define MUI_ICON "${ICON}"
  !define MUI_UNICON "${ICON}"
!endif
!define MUI_COMPONENTSPAGE_NODESC

!define MUI_FINISHPAGE_RUN "$INSTDIR\${PROGRAM_EXE}"
!define MUI_FINISHPAGE_RUN_TEXT "Run ${PRODUCT}"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!define MUI_COMPONENTSPAGE_TEXT_TOP "Your settings (devices, window placement, plug-in folder) are kept unless you tick them here."
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

;--------------------------------------------------------------------------
; Install

; Administrators: shortcuts for all users, uninstall entry under HKLM.
; Others: their own Start menu and HKCU, and a folder they can write to.
Function .onInit
  SetRegView 64
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 == "Admin"
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
    ${If} $INSTDIR == "$PROGRAMFILES64\${PRODUCT}"
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "!${PRODUCT}" SecProgram
  SectionIn RO

  ; An earlier installation (this one or another folder) is removed by its
  ; own uninstaller first. Run from a copy with _?= so that ExecWait returns
  ; when it is done; it keeps the settings key unless told otherwise.
  ReadRegStr $R0 SHCTX "${UNINST_KEY}" "InstallLocation"
  ${If} $R0 != ""
  ${AndIf} ${FileExists} "$R0\${UNINSTALLER}"
    InitPluginsDir
    CopyFiles /SILENT "$R0\${UNINSTALLER}" "$PLUGINSDIR\previous-uninst.exe"
    DetailPrint "Removing the earlier installation in $R0"
    ExecWait '"$PLUGINSDIR\previous-uninst.exe" /S _?=$R0' $R1
    Delete "$PLUGINSDIR\previous-uninst.exe"
  ${EndIf}

  !include "${INSTALL_FILES_NSH}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; The program finds its modules through this value; it ends with a backslash.
  StrCpy $0 "$INSTDIR" "" -1
  ${If} $0 == "\"
    StrCpy $0 "$INSTDIR"
  ${Else}
    StrCpy $0 "$INSTDIR\"
  ${EndIf}
  WriteRegStr HKCU "${SETTINGS_KEY}" "AppDir" "$0"

  ; SHCTX is HKLM or HKCU, following SetShellVarContext in .onInit.
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM_EXE},0"
  WriteRegStr SHCTX "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr SHCTX "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD SHCTX "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINST_KEY}" "NoRepair" 1
SectionEnd

Section "Start menu shortcuts" SecStartMenu
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM_EXE}" "" "$INSTDIR\${PROGRAM_EXE}" 0
!ifdef HAVE_MANUAL
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\${PRODUCT} Manual.lnk" "$INSTDIR\Manual.chm"
!endif
  CreateShortCut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\${UNINSTALLER}"
SectionEnd

; The folder the VST wrapper scans when no other VST directory is chosen.
; The uninstaller removes it only while it is empty.
Section "VST Plugins folder" SecVstFolder
  CreateDirectory "$INSTDIR\VST Plugins"
SectionEnd

Section "Desktop shortcut" SecDesktop
  CreateShortCut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM_EXE}" "" "$INSTDIR\${PROGRAM_EXE}" 0
SectionEnd

; Last: the size of everything installed, for the programs list.
Section "-Size"
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  WriteRegDWORD SHCTX "${UNINST_KEY}" "EstimatedSize" $1
SectionEnd

;--------------------------------------------------------------------------
; Uninstall

Section "-un.${PRODUCT}" SecUnProgram
  Delete "$DESKTOP\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT} Manual.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  !include "${UNINSTALL_FILES_NSH}"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"

  DeleteRegKey SHCTX "${UNINST_KEY}"

  ; Only what setup wrote; the user's other values stay.
  DeleteRegValue HKCU "${SETTINGS_KEY}" "AppDir"
  DeleteRegKey /ifempty HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "${SETTINGS_PRODUCT}"
  DeleteRegKey /ifempty HKCU "${SETTINGS_PARENT}"
SectionEnd

Section /o "un.Also remove your ${PRODUCT} settings" SecUnSettings
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "${SETTINGS_PRODUCT}"
  DeleteRegKey /ifempty HKCU "${SETTINGS_PARENT}"
SectionEnd

; After the sections: it selects one of them.
Function un.onInit
  SetRegView 64
  ; Installed for all users if the HKLM entry points here.
  ReadRegStr $0 HKLM "${UNINST_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}

  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecUnSettings}
  ${EndIf}
FunctionEnd

!delfile "${INSTALL_FILES_NSH}"
!delfile "${UNINSTALL_FILES_NSH}"
