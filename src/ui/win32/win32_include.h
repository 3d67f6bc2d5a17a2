// windows.h for the Win32 backend, without the A/W macros that would rename our own members
// (Dialog::MessageBox, Dialog::PostMessage, Dialog::SendMessage). Only Windows code includes this.
#pragma once

#include <windows.h>
// windows.h first: these need its types.
#include <commctrl.h>
#include <dbt.h>
#include <shellapi.h>
#include <windowsx.h>

#undef MessageBox
#undef PostMessage
#undef SendMessage
