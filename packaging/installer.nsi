; The Windows installer of the Morvox USB SDK (scripts/dist.sh runs makensis):
;   makensis -DVERSION=1.0.0 -DSTAGE=<installed SDK folder> -DSIZE_KB=<size>
;            -DUNINSTALL_LIST=<Delete/RMDir lines> -DOUTFILE=<setup.exe> installer.nsi
; Installs the SDK folder into Program Files, adds a Start-menu entry for the
; utility and registers the uninstaller with Windows. /S installs silently;
; the uninstaller's /S removes everything silently.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
!pragma warning disable 9100 ; no LegalCopyright: the SDK carries no licence text

!define PRODUCT "Morvox USB SDK"
!define PUBLISHER "Morvox"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\MorvoxUsbSdk"
!define MENU_FOLDER "$SMPROGRAMS\${PRODUCT}"
!define UTILITY_LINK "${MENU_FOLDER}\Morvox USB Utility.lnk"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}.0"

!include "MUI2.nsh"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetShellVarContext all
  SetRegView 64
  ; Installing over an earlier version: remove it first with its own
  ; uninstaller, run in place (_?=) so that this waits for it.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  StrCmp $0 "" done
  IfFileExists "$0\uninstall.exe" 0 done
  ExecWait '"$0\uninstall.exe" /S _?=$0'
  Delete "$0\uninstall.exe"
  RMDir "$0"
done:
FunctionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

Section "SDK"
  SetOutPath "$INSTDIR"
  File /r "${STAGE}/*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The utility starts in its own folder (it reads its boot files from the
  ; current directory).
  CreateDirectory "${MENU_FOLDER}"
  SetOutPath "$INSTDIR\bin\x64"
  CreateShortcut "${UTILITY_LINK}" "$INSTDIR\bin\x64\mxuapp64.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\bin\x64\mxuapp64.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

Section "Uninstall"
  !include "${UNINSTALL_LIST}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "${UTILITY_LINK}"
  RMDir "${MENU_FOLDER}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
