; Ovra7Server installer: per user, no administrator rights, into
; %LOCALAPPDATA%\Programs\Ovra7Server. Built by the windows preset's "installer" target, which
; passes BUILD_NSH (the constants shared with the code), EXE, CTL, ICON, INF, DRIVER_SCRIPT,
; OUTFILE and, for a release with a signed driver catalog, CATALOG (makensis -INPUTCHARSET UTF8).
;
; Command line of the installer:
;   /S          silent; the running program is closed and started again afterwards
;   /RUN        start the program at the end (a silent install that closed one always does)
;   /DRIVER     also install the USB upgrade driver (asks for administrator rights)
;   /D=FOLDER   install elsewhere (last on the line, no quotes)
; Exit codes of the installer:
;   0     installed (with /DRIVER: the driver too, or added to the driver store for later)
;   1     cancelled by the user
;   2     aborted: a running Ovra7Server could not be closed; nothing was changed
;   3     the program was installed, the USB upgrade driver was not (no administrator rights,
;         an unsigned driver package, or pnputil failed; install-driver.log in the driver
;         folder tells which)
;   3010  installed; Windows must restart before a reader connected in DFU mode now uses the
;         new driver (as pnputil reports it)
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

!include "${BUILD_NSH}"
!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define PRODUCT "Ovra7Server"
!define EXE_NAME "Ovra7Server.exe"
!define CTL_NAME "ovra7ctl.exe"
!define INF_NAME "ovra7-dfu-winusb.inf"
!define CAT_NAME "ovra7-dfu-winusb.cat"
!define DRIVER_SCRIPT_NAME "install-driver.cmd"
!define DRIVER_LOG_NAME "install-driver.log"
!define DRIVER_CODE_NAME "install-driver.code"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; Per user since Windows 7: lets Win+R, "start" and Start-Process find ovra7ctl without a path.
!define APP_PATHS_KEY "Software\Microsoft\Windows\CurrentVersion\App Paths\${CTL_NAME}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "OvraNetService"
; How long the old program may take to end (its reader commands take up to 2 s each).
!define CLOSE_WAIT_TENTHS 300
!define EXIT_DRIVER_NOT_INSTALLED 3
; ERROR_SUCCESS_REBOOT_REQUIRED, as pnputil and Windows installers report it.
!define EXIT_RESTART_NEEDED 3010

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
  File "/oname=${CTL_NAME}" "${CTL}"
  SetOutPath "$INSTDIR\driver"
  File "/oname=${INF_NAME}" "${INF}"
  File "/oname=${DRIVER_SCRIPT_NAME}" "${DRIVER_SCRIPT}"
!ifdef CATALOG
  File "/oname=${CAT_NAME}" "${CATALOG}"
!else
  ; An earlier installer of a signed release may have left its catalog, which does not sign
  ; this INF.
  Delete "$INSTDIR\driver\${CAT_NAME}"
!endif
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE_NAME}" "" "$INSTDIR\${EXE_NAME}" 0
  WriteRegStr HKCU "${APP_PATHS_KEY}" "" "$INSTDIR\${CTL_NAME}"
  WriteRegStr HKCU "${APP_PATHS_KEY}" "Path" "$INSTDIR"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "URLInfoAbout" "${HOMEPAGE}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "HelpLink" "${HOMEPAGE}"
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

; Appends the driver step's verdict (English, as the program's log) to install-driver.log, so
; that a silent install can be looked into afterwards.
!macro DRIVER_VERDICT text
  FileOpen $9 "$INSTDIR\driver\${DRIVER_LOG_NAME}" a
  FileSeek $9 0 END
  FileWrite $9 "Ovra7Server installer: ${text}$\r$\n"
  FileClose $9
!macroend

; WinUSB for the reader in DFU mode needs the driver package in the system's driver store, which
; only an administrator may add, and 64-bit Windows takes it only with its signed catalog.
!ifdef CATALOG
Section /o "USB 升级驱动（WinUSB，需要管理员权限）" SecDriver
  Delete "$INSTDIR\driver\${DRIVER_LOG_NAME}"
  Delete "$INSTDIR\driver\${DRIVER_CODE_NAME}"
  DetailPrint "正在安装 USB 升级驱动（需要管理员权限）…"
  ClearErrors
  ExecShellWait "runas" "$INSTDIR\driver\${DRIVER_SCRIPT_NAME}" \
    '"$INSTDIR\driver\${INF_NAME}" "$INSTDIR\driver\${DRIVER_LOG_NAME}" "$INSTDIR\driver\${DRIVER_CODE_NAME}"' \
    SW_HIDE
  ${If} ${Errors}
    DetailPrint "未安装 USB 升级驱动：未获得管理员权限。管理员可以稍后运行："
    DetailPrint "$\"$INSTDIR\driver\${DRIVER_SCRIPT_NAME}$\" $\"$INSTDIR\driver\${INF_NAME}$\""
    !insertmacro DRIVER_VERDICT "not installed: administrator rights were not given"
    SetErrorLevel ${EXIT_DRIVER_NOT_INSTALLED}
    Return
  ${EndIf}
  ; pnputil's own words, then its exit code, which decides.
  ClearErrors
  FileOpen $3 "$INSTDIR\driver\${DRIVER_LOG_NAME}" r
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
  StrCpy $5 ""
  ClearErrors
  FileOpen $3 "$INSTDIR\driver\${DRIVER_CODE_NAME}" r
  ${IfNot} ${Errors}
    FileRead $3 $5
    FileClose $3
  ${EndIf}
  ; A number, or nothing when pnputil could not be run at all (a digit is the one character
  ; that reads back the same as a number).
  StrCpy $6 $5 1
  ${If} $6 == "-"
    StrCpy $6 $5 1 1
  ${EndIf}
  IntOp $7 $6 + 0
  ${If} "$7" == "$6"
    IntOp $5 $5 + 0
  ${Else}
    StrCpy $5 "(none)"
  ${EndIf}
  ${If} $5 == 0
    DetailPrint "USB 升级驱动已安装。"
    !insertmacro DRIVER_VERDICT "pnputil exit code 0: the driver is installed"
  ${ElseIf} $5 == 259
    ; ERROR_NO_MORE_ITEMS: the package is in the driver store, and no connected device took it
    ; (none in DFU mode now, or one that keeps a newer driver).
    DetailPrint "USB 升级驱动已加入 Windows 驱动程序库。现在没有连接处于升级模式的读卡器；读卡器进入升级模式时 Windows 会为它使用这个驱动。"
    !insertmacro DRIVER_VERDICT "pnputil exit code 259: the driver package is in the driver store; no connected device took it now"
  ${ElseIf} $5 == ${EXIT_RESTART_NEEDED}
    DetailPrint "USB 升级驱动已安装，但需要重新启动 Windows：现在已连接的升级模式读卡器在重新启动后才使用它（以后连接的读卡器无需重新启动）。"
    !insertmacro DRIVER_VERDICT "pnputil exit code 3010: the driver is installed; Windows must restart before a device connected now uses it"
    MessageBox MB_OK|MB_ICONINFORMATION \
      "USB 升级驱动已安装。$\r$\n$\r$\n现在已连接的升级模式读卡器要在 Windows 重新启动后才使用新驱动；以后连接的读卡器无需重新启动。" \
      /SD IDOK
    SetErrorLevel ${EXIT_RESTART_NEEDED}
  ${Else}
    DetailPrint "USB 升级驱动未能安装（pnputil 返回 $5），详情见 $INSTDIR\driver\${DRIVER_LOG_NAME}。"
    !insertmacro DRIVER_VERDICT "pnputil exit code $5: the driver was not installed"
    MessageBox MB_OK|MB_ICONEXCLAMATION \
      "USB 升级驱动未能安装（pnputil 返回 $5）。$\r$\n$\r$\n程序已安装；没有这个驱动就不能通过 USB 升级读卡器。详情见：$\r$\n$INSTDIR\driver\${DRIVER_LOG_NAME}" \
      /SD IDOK
    SetErrorLevel ${EXIT_DRIVER_NOT_INSTALLED}
    Return
  ${EndIf}
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "DriverInstalled" 1
SectionEnd
!else
Section /o "USB 升级驱动（此安装程序中的驱动程序包未签名，无法安装）" SecDriver
  Delete "$INSTDIR\driver\${DRIVER_LOG_NAME}"
  Delete "$INSTDIR\driver\${DRIVER_CODE_NAME}"
  DetailPrint "USB 升级驱动未安装：此安装程序中的驱动程序包未签名（没有签名的 ${CAT_NAME}），64 位 Windows 不接受它。已跳过此步骤。"
  !insertmacro DRIVER_VERDICT "skipped: the driver package of this installer is unsigned (no ${CAT_NAME})"
  MessageBox MB_OK|MB_ICONEXCLAMATION \
    "此安装程序中的 USB 升级驱动程序包未签名，Windows 不接受它，已跳过驱动安装。$\r$\n$\r$\n程序已安装；请使用带签名驱动的正式安装程序来安装驱动。" \
    /SD IDOK
  SetErrorLevel ${EXIT_DRIVER_NOT_INSTALLED}
SectionEnd
!endif

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
  ReadRegDWORD $8 HKCU "${UNINSTALL_KEY}" "DriverInstalled"
  Delete "$INSTDIR\${EXE_NAME}"
  Delete "$INSTDIR\${CTL_NAME}"
  Delete "$INSTDIR\driver\${INF_NAME}"
  Delete "$INSTDIR\driver\${CAT_NAME}"
  Delete "$INSTDIR\driver\${DRIVER_SCRIPT_NAME}"
  Delete "$INSTDIR\driver\${DRIVER_LOG_NAME}"
  Delete "$INSTDIR\driver\${DRIVER_CODE_NAME}"
  RMDir "$INSTDIR\driver"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${APP_PATHS_KEY}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"

  ; The driver store belongs to the machine: only an administrator can take the package out,
  ; and other users' readers may need it.
  ${If} $8 == 1
    DetailPrint "USB 升级驱动仍在 Windows 驱动程序库中（删除它需要管理员权限）。管理员可以运行"
    DetailPrint "pnputil /enum-drivers，找到原始名称为 ${INF_NAME} 的 oemNN.inf，再运行"
    DetailPrint "pnputil /delete-driver oemNN.inf /uninstall"
    MessageBox MB_OK|MB_ICONINFORMATION \
      "USB 升级驱动仍在 Windows 驱动程序库中，卸载本程序不会删除它。$\r$\n$\r$\n管理员可以运行 pnputil /enum-drivers 找到原始名称为 ${INF_NAME} 的 oemNN.inf，再运行 pnputil /delete-driver oemNN.inf /uninstall 删除它。" \
      /SD IDOK
  ${EndIf}

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
