; The Windows installer of Tolvane Disk Defrag: one script for the 32-bit release build
; and the 64-bit build.
;
;   makensis -DVERSION=1.0.0 -DARCH=win32 -DSTAGE=<build>\stage -DOUTFILE=<setup.exe> installer.nsi
;
; STAGE is a build's stage folder: DefragShell.exe and the help beside it, the engine
; folder vexa\ below it. tools/package passes the version the build was configured with
; (the text vexa --version prints).
Unicode true
!ifndef VERSION | ARCH | STAGE | OUTFILE
  !error "VERSION, ARCH, STAGE and OUTFILE must be defined"
!endif

!define PRODUCT "Tolvane Disk Defrag"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define USER_KEY "Software\${PRODUCT}"
!define MACHINE_KEY "Software\${PRODUCT}"
!define TASK_NAME "Tolvane Disk Defrag Schedule"

!if "${ARCH}" == "win64"
  Target amd64-unicode
  InstallDir "$PROGRAMFILES64\${PRODUCT}"
!else
  Target x86-unicode
  InstallDir "$PROGRAMFILES\${PRODUCT}"
!endif

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Tolvane Disk Defrag maintainers"

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\DefragShell.exe"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The registry views of the build: the 64-bit program reads and writes the 64-bit view.
!macro UseBuildRegistryView
  !if "${ARCH}" == "win64"
    SetRegView 64
  !endif
!macroend

; The program is installed for every user of the computer: one Start menu entry for all.
Function .onInit
  !insertmacro UseBuildRegistryView
  SetShellVarContext all
FunctionEnd

Function un.onInit
  !insertmacro UseBuildRegistryView
  SetShellVarContext all
FunctionEnd

Section "Tolvane Disk Defrag" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${STAGE}\DefragShell.exe"
  !if /FileExists "${STAGE}\${PRODUCT}.chm"
    File "${STAGE}\${PRODUCT}.chm"
  !endif
  !if /FileExists "${STAGE}\help\*.*"
    SetOutPath "$INSTDIR\help"
    File /r "${STAGE}\help\*.*"
  !endif

  SetOutPath "$INSTDIR\vexa"
  File "${STAGE}\vexa\vexa.dll"
  File "${STAGE}\vexa\vexa.exe"
  !if /FileExists "${STAGE}\vexa\VEXAAUTO.exe"
    File "${STAGE}\vexa\VEXAAUTO.exe"
  !endif
  File "${STAGE}\vexa\analysisreport.html"
  File "${STAGE}\vexa\analysisreportmodel.html"
  File "${STAGE}\vexa\analysisreporttopmodel.html"
  File "${STAGE}\vexa\defragreport.html"
  File "${STAGE}\vexa\defragreportmodel.html"
  File "${STAGE}\vexa\defragreporttopmodel.html"
  File "${STAGE}\vexa\report.css"
  ; The user's settings survive a reinstall over an older copy.
  SetOverwrite off
  File "${STAGE}\vexa\preset.ini"
  File "${STAGE}\vexa\Setting"
  SetOverwrite on

  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\DefragShell.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\Uninstall.exe"

  ; The update check compares the server's version with this one. The machine's key: it
  ; holds for every user, and only an administrator may change it.
  WriteRegStr HKLM "${MACHINE_KEY}" "Version" "${VERSION}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Tolvane Disk Defrag maintainers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\DefragShell.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

; What the engine and the program write into their folders while they run.
!macro RemoveRunFiles
  Delete "$INSTDIR\vexa\diskdata"
  Delete "$INSTDIR\vexa\defragdate"
  Delete "$INSTDIR\vexa\defragvol"
  Delete "$INSTDIR\vexa\defragprint"
  Delete "$INSTDIR\vexa\claims-*"
  Delete "$INSTDIR\vexa\FileList.txt"
  Delete "$INSTDIR\vexa\volumes.ini"
  Delete "$INSTDIR\vexa\*.lock"
  Delete "$INSTDIR\Update.ini"
!macroend

Section "Uninstall"
  ; The real-time defragmenter holds its program file open while it runs.
  nsExec::Exec 'taskkill /F /IM VEXAAUTO.exe'
  Pop $0

  DeleteRegValue HKLM "${RUN_KEY}" "Vexarun"
  DeleteRegValue HKLM "${RUN_KEY}" "VEXAAUTO"
  nsExec::Exec 'schtasks /Delete /TN "${TASK_NAME}" /F'
  Pop $0
  Delete "$WINDIR\Tasks\${TASK_NAME}.job"

  Delete "$INSTDIR\DefragShell.exe"
  Delete "$INSTDIR\${PRODUCT}.chm"
  RMDir /r "$INSTDIR\help"
  Delete "$INSTDIR\vexa\vexa.dll"
  Delete "$INSTDIR\vexa\vexa.exe"
  Delete "$INSTDIR\vexa\VEXAAUTO.exe"
  Delete "$INSTDIR\vexa\analysisreportmodel.html"
  Delete "$INSTDIR\vexa\analysisreporttopmodel.html"
  Delete "$INSTDIR\vexa\defragreportmodel.html"
  Delete "$INSTDIR\vexa\defragreporttopmodel.html"
  Delete "$INSTDIR\vexa\preset.ini"
  Delete "$INSTDIR\vexa\Setting"
  !insertmacro RemoveRunFiles

  ; The report pages are the user's: kept on request, with what they need to open.
  MessageBox MB_YESNO|MB_ICONQUESTION "Keep the defragmentation reports in $INSTDIR\vexa?" /SD IDNO IDYES keepReports
    Delete "$INSTDIR\vexa\analysisreport*.html"
    Delete "$INSTDIR\vexa\defragreport*.html"
    Delete "$INSTDIR\vexa\report.css"
  keepReports:
  RMDir "$INSTDIR\vexa"

  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "${USER_KEY}"
  DeleteRegKey HKLM "${MACHINE_KEY}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
