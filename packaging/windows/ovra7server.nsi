; Ovra7Server installer: per user, no administrator rights, into
; %LOCALAPPDATA%\Programs\Ovra7Server. Built by the windows preset's "installer" target, which
; passes VERSION, EXE, ICON, INF and OUTFILE (makensis -INPUTCHARSET UTF8 -D...).
;
; Command line of the installer:
;   /S          silent; the running program is closed and started again afterwards
;   /RUN        start the program at the end (a silent install that closed one always does)
;   /DRIVER     also install the USB upgrade driver (asks for administrator rights)
;   /D=FOLDER   install elsewhere (last on the line, no quotes)
; Command line of the uninstaller (uninstall.exe in the installation folder):
;   /S          silent; keeps the settings folder and the package cache
;   /PURGE      removes the settings folder and the package cache as well (with or without /S)
;
; A 64-bit installer for a 64-bit program: Windows on x64 runs it, $SYSDIR is the real System32
; for pnputil, and no 32-bit plug-in is needed (none is used).

Unicode true
Target amd64-unicode
RequestExecutionLevel user
ManifestDPIAware true
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define PRODUCT "Ovra7Server"
!define PUBLISHER "Ovra7"
!define EXE_NAME "Ovra7Server.exe"
!define INF_NAME "ovra7-dfu-winusb.inf"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "OvraNetService"
; The program's window title, and WM_EXIT_REQUEST with kExitWithoutQuestion: the program then
; exits as its tray menu's exit does, without waiting for an answer to a message box.
!define WINDOW_TITLE "读卡器设置"
!define WM_EXIT_REQUEST 2041
!define EXIT_WITHOUT_QUESTION 1
; How long the old program may take to end (its reader commands take up to 2 s each).
!define CLOSE_WAIT_TENTHS 300

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "${PRODUCT} 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "© ${PUBLISHER}"

Var closedRunning   ; 1 when this run closed a running program
Var options         ; the command line's options

; Closes a running program before its files are replaced or removed. The window is asked to
; exit; then its executable must become deletable, which on Windows means the process ended.
; Gives up after CLOSE_WAIT_TENTHS tenths of a second per try and lets the user retry; a silent
; run aborts (exit code 2) and changes nothing.
!macro CLOSE_RUNNING_PROGRAM un
Function ${un}CloseRunningProgram
  StrCpy $closedRunning 0
  retry:
  FindWindow $0 "" "${WINDOW_TITLE}"
  ${If} $0 != 0
    DetailPrint "正在关闭运行中的 ${PRODUCT}…"
    StrCpy $closedRunning 1
    SendMessage $0 ${WM_EXIT_REQUEST} ${EXIT_WITHOUT_QUESTION} 0 /TIMEOUT=30000
  ${EndIf}
  StrCpy $1 0
  ${Do}
    FindWindow $0 "" "${WINDOW_TITLE}"
    ${If} $0 == 0
      ${IfNot} ${FileExists} "$INSTDIR\${EXE_NAME}"
        Return
      ${EndIf}
      ClearErrors
      Delete "$INSTDIR\${EXE_NAME}"
      ${IfNot} ${Errors}
        Return
      ${EndIf}
    ${EndIf}
    IntOp $1 $1 + 1
    ${If} $1 > ${CLOSE_WAIT_TENTHS}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "${PRODUCT} 仍在运行，无法继续。$\r$\n请从托盘图标的菜单中退出它，然后点击“重试”。" \
        /SD IDCANCEL IDRETRY retry
      Abort "${PRODUCT} 仍在运行：已取消"
    ${EndIf}
    Sleep 100
  ${Loop}
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_PROGRAM ""
!insertmacro CLOSE_RUNNING_PROGRAM "un."

Section "${PRODUCT} 程序" SecProgram
  SectionIn RO
  Call CloseRunningProgram
  SetOutPath "$INSTDIR"
  File "/oname=${EXE_NAME}" "${EXE}"
  SetOutPath "$INSTDIR\driver"
  File "/oname=${INF_NAME}" "${INF}"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE_NAME}" "" "$INSTDIR\${EXE_NAME}" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$\"$INSTDIR\${EXE_NAME}$\",0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" "$\"$INSTDIR\uninstall.exe$\""
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" "$\"$INSTDIR\uninstall.exe$\" /S"
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

; WinUSB for the reader in DFU mode needs the driver package in the system's driver store, which
; only an administrator may add. Declining the elevation prompt skips this step and nothing else;
; the INF stays in the installation folder for later.
Section /o "USB 升级驱动（WinUSB，需要管理员权限）" SecDriver
  StrCpy $1 "$INSTDIR\driver\${INF_NAME}"
  StrCpy $2 "$INSTDIR\driver\install-driver.log"
  Delete "$2"
  DetailPrint "正在安装 USB 升级驱动（需要管理员权限）…"
  ClearErrors
  ExecShellWait "runas" "$SYSDIR\cmd.exe" \
    '/c ""$SYSDIR\pnputil.exe" /add-driver "$1" /install > "$2" 2>&1"' SW_HIDE
  ${If} ${Errors}
    DetailPrint "未安装 USB 升级驱动（未获得管理员权限）。管理员可以稍后运行："
    DetailPrint "pnputil /add-driver $\"$1$\" /install"
    Return
  ${EndIf}
  ; pnputil's own words tell whether the driver went in.
  ClearErrors
  FileOpen $3 "$2" r
  ${IfNot} ${Errors}
    ${Do}
      FileRead $3 $4
      ${If} ${Errors}
        ${ExitDo}
      ${EndIf}
      DetailPrint "$4"
    ${Loop}
    FileClose $3
  ${EndIf}
SectionEnd

Function .onInit
  ${GetParameters} $options
  ClearErrors
  ${GetOptions} $options "/DRIVER" $0
  ${IfNot} ${Errors}
    SectionSetFlags ${SecDriver} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

Function .onInstSuccess
  ClearErrors
  ${GetOptions} $options "/RUN" $0
  ${If} ${Errors}
    ${If} ${Silent}
      ${If} $closedRunning != 1
        Return
      ${EndIf}
    ${Else}
      MessageBox MB_YESNO|MB_ICONQUESTION "安装完成。现在启动 ${PRODUCT} 吗？" IDYES start
      Return
    ${EndIf}
  ${EndIf}
  start:
  SetOutPath "$INSTDIR"
  Exec '"$INSTDIR\${EXE_NAME}"'
FunctionEnd

Section "Uninstall"
  Call un.CloseRunningProgram
  Delete "$INSTDIR\${EXE_NAME}"
  Delete "$INSTDIR\driver\${INF_NAME}"
  Delete "$INSTDIR\driver\install-driver.log"
  RMDir "$INSTDIR\driver"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"

  ; The settings (setting.ini) and the package cache (DFU) share the program's folder under
  ; the roaming application data. Kept unless the user says otherwise, or /PURGE is given.
  ${GetParameters} $options
  ClearErrors
  ${GetOptions} $options "/PURGE" $0
  ${If} ${Errors}
    MessageBox MB_YESNO|MB_ICONQUESTION \
      "是否保留 ${PRODUCT} 的设置和升级包缓存？$\r$\n$\r$\n$APPDATA\OvraNetService$\r$\n$\r$\n\
选择“是”保留，以后重新安装时继续使用；选择“否”删除。" \
      /SD IDYES IDYES keep
  ${EndIf}
  RMDir /r "$APPDATA\OvraNetService"
  DetailPrint "已删除设置和升级包缓存"
  Goto done
  keep:
  DetailPrint "已保留设置和升级包缓存：$APPDATA\OvraNetService"
  done:
SectionEnd
