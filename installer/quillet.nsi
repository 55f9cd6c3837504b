; The installer of one build. makensis -DARCH=32|64 -DBUILD=<folder with
; quillet.exe and quillet.chm> -DOUTFILE=<setup.exe> quillet.nsi
; Silent use: setup.exe /S installs; Uninstall.exe /S removes the program
; and, with /PURGE as well, the settings.
Unicode true
!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"

!define PRODUCT "Quillet"
!define VERSION "6.0.200"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillet"
!define SETTINGS_KEY "Software\Marrowfield\Quillet"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

!if ${ARCH} == 64
  Target amd64-unicode
  InstallDir "$PROGRAMFILES64\${PRODUCT}"
!else
  Target x86-unicode
  InstallDir "$PROGRAMFILES\${PRODUCT}"
!endif

Name "${PRODUCT}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
VIProductVersion "6.0.200.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Quillet is free to use and to host yourself."

!define MUI_ICON "..\src\resources\quillet.ico"
!define MUI_UNICON "..\src\resources\quillet.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\quillet.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
!if ${ARCH} == 64
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "This is the 64-bit ${PRODUCT}; use the 32-bit setup on this Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
!endif
FunctionEnd

Section "${PRODUCT}"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${BUILD}\quillet.exe"
  File "${BUILD}\quillet.chm"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\quillet.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Marrowfield"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quillet.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
!if ${ARCH} == 64
  SetRegView 64
!endif
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\quillet.exe"
  Delete "$INSTDIR\quillet.chm"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PURGE" $1
  ${IfNot} ${Errors}
    DeleteRegKey HKCU "${SETTINGS_KEY}"
  ${ElseIfNot} ${Silent}
    MessageBox MB_YESNO|MB_ICONQUESTION "Remove your ${PRODUCT} settings and local clippings as well?" IDNO keep
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    keep:
  ${EndIf}
  DeleteRegKey /ifempty HKCU "Software\Marrowfield"
SectionEnd
