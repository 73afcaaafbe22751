; The Windows installer of zorvik: built by scripts/windows/package, which passes
;   VERSION    the program's version            PUBLISHER  the vendor's name
;   STAGE      the installed folder, staged     OUTFILE    the installer to write
;   FILES      an include with the install and uninstall lists of STAGE's files
;   TEXTS      an include with this installer's own sentences (LangString), from the window's catalogues
;
; Installs for all users into Program Files, with a Start-menu entry and an uninstall entry. Silent with /S.
; The uninstaller removes exactly the files it installed; the settings in %ProgramData%\vexlune\zorvik stay
; unless the user says to remove them (asked when not silent; /REMOVESETTINGS when silent).
Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include x64.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\zorvik"
!define SETTINGS_FOLDER "vexlune\zorvik"

Name "zorvik ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PUBLISHER}\zorvik"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PUBLISHER} zorvik ${VERSION}"
VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "zorvik"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "zorvik ${VERSION} setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright ${PUBLISHER}"

!define MUI_ICON "${STAGE}\zorvik.ico"
!define MUI_UNICON "${STAGE}\zorvik.ico"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The first language is the one for systems in neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"

!include "${TEXTS}"
!include "${FILES}"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "$(needs64Bit)" /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "zorvik" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  !insertmacro ZORVIK_INSTALL_FILES
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "$SMPROGRAMS\zorvik.lnk" "$INSTDIR\zorvik.exe" "" "$INSTDIR\zorvik.ico" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "zorvik"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zorvik.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Uninstall"
  !insertmacro ZORVIK_UNINSTALL_FILES
  Delete "$INSTDIR\uninstall.exe"
  ; Only emptied folders go: whatever else the user put there stays.
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES64\${PUBLISHER}"
  Delete "$SMPROGRAMS\zorvik.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ; $APPDATA is %ProgramData% for all users.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${If} ${Errors}
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "$(removeSettings)" /SD IDNO IDNO keep
  ${EndIf}
  RMDir /r "$APPDATA\${SETTINGS_FOLDER}"
  RMDir "$APPDATA\vexlune"
  keep:
SectionEnd
