@echo off
rem Adds the USB upgrade driver package to the driver store and installs it on a reader in
rem DFU mode. Needs administrator rights; the installer runs it elevated for its "USB upgrade
rem driver" component, and an administrator may run it again by hand.
rem Usage: install-driver.cmd INF [LOG CODE]: pnputil's output goes to LOG, its exit code to
rem CODE (0 and 3010 done, 259 added to the store with no device to install it on).
if "%~2"=="" (
  "%SystemRoot%\System32\pnputil.exe" /add-driver "%~1" /install
  exit /b
)
"%SystemRoot%\System32\pnputil.exe" /add-driver "%~1" /install > "%~2" 2>&1
rem The redirection goes first: "echo 0> file" would redirect handle 0 instead.
>"%~3" echo %errorlevel%
