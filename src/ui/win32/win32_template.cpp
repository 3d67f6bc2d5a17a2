// Builds the in-memory DLGTEMPLATEEX from a portable template, so dialog units stay native.
// Only Windows code belongs here.
#include "platform/win32/utf.h"
#include "ui/win32/win32_internal.h"

namespace ui::win32 {

namespace {

void PutWord(std::vector<WORD>& out, WORD w) { out.push_back(w); }

void PutDword(std::vector<WORD>& out, DWORD d) {
  out.push_back(LOWORD(d));
  out.push_back(HIWORD(d));
}

void PutString(std::vector<WORD>& out, const std::string& utf8) {
  std::wstring w = platform::Widen(utf8);
  for (wchar_t c : w) out.push_back(static_cast<WORD>(c));
  out.push_back(0);
}

void AlignDword(std::vector<WORD>& out) {
  if (out.size() % 2) out.push_back(0);
}

struct ItemClass {
  const char* name;
  DWORD style;
};

ItemClass ClassAndStyle(const ControlTemplate& c) {
  const uint32_t s = c.style;
  switch (c.kind) {
    case ControlKind::kPushButton:
      return {"Button", static_cast<DWORD>(
                            WS_TABSTOP | ((s & kStyleDefault) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON))};
    case ControlKind::kCheckBox:
      return {"Button", WS_TABSTOP | BS_AUTOCHECKBOX};
    case ControlKind::kRadioButton:
      // Only the first of a group is a tab stop; the arrow keys move inside the group.
      return {"Button",
              static_cast<DWORD>(BS_AUTORADIOBUTTON | ((s & kStyleGroupStart) ? WS_TABSTOP : 0))};
    case ControlKind::kGroupBox:
      return {"Button", BS_GROUPBOX};
    case ControlKind::kStatic:
      return {"Static", static_cast<DWORD>((s & kStyleCenter)  ? SS_CENTER
                                           : (s & kStyleRight) ? SS_RIGHT
                                                               : SS_LEFT)};
    case ControlKind::kEdit: {
      DWORD style = WS_TABSTOP | ES_LEFT;
      // A single-line edit always scrolls sideways. A multi-line one wraps its lines at the
      // edge unless sideways scrolling is asked for: with ES_AUTOHSCROLL it never wraps.
      if (s & kStyleMultiLine) {
        style |= ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
        if (s & kStyleAutoHScroll) style |= ES_AUTOHSCROLL;
      } else {
        style |= ES_AUTOHSCROLL;
      }
      if (s & kStyleDigitsOnly) style |= ES_NUMBER;
      if (s & kStyleReadOnly) style |= ES_READONLY;
      return {"Edit", style};
    }
    case ControlKind::kComboBox:
      return {"ComboBox", WS_TABSTOP | CBS_DROPDOWN | CBS_AUTOHSCROLL};
    case ControlKind::kUpDown: {
      DWORD style = 0;
      if (s & kStyleAutoBuddy) style |= UDS_AUTOBUDDY;
      if (s & kStyleAlignRight) style |= UDS_ALIGNRIGHT;
      if (s & kStyleArrowKeys) style |= UDS_ARROWKEYS;
      return {"msctls_updown32", style};
    }
    case ControlKind::kProgressBar:
      return {"msctls_progress32", WS_BORDER};
  }
  return {"Static", SS_LEFT};
}

}  // namespace

std::vector<WORD> BuildDialogTemplate(const DialogTemplate& t, bool modal) {
  std::vector<WORD> out;
  DWORD style = WS_POPUP | DS_SETFONT | DS_FIXEDSYS;  // DS_SHELLFONT: "MS Shell Dlg" as the shell's
  if (t.style & kWindowCaption) style |= WS_CAPTION;
  if (t.style & kWindowSysMenu) style |= WS_SYSMENU;
  if (t.style & (kWindowDialogFrame | kWindowModalFrame)) style |= DS_MODALFRAME;
  if (t.style & kWindowMinimizeBox) style |= WS_MINIMIZEBOX;
  if (t.style & kWindowMaximizeBox) style |= WS_MAXIMIZEBOX;
  // A modal run is shown by the run itself, after initialisation.
  if ((t.style & kWindowVisible) && !modal) style |= WS_VISIBLE;
  if (t.style & kWindowCenter) style |= DS_CENTER;

  WORD count = 0;
  for (size_t i = 0; i < t.controls.size() && count < 0xFFFF; ++i) ++count;

  PutWord(out, 1);       // dlgVer
  PutWord(out, 0xFFFF);  // signature: extended template
  PutDword(out, 0);      // helpID
  PutDword(out, 0);      // exStyle
  PutDword(out, style);
  PutWord(out, count);
  PutWord(out, static_cast<WORD>(t.x));
  PutWord(out, static_cast<WORD>(t.y));
  PutWord(out, static_cast<WORD>(t.cx));
  PutWord(out, static_cast<WORD>(t.cy));
  PutWord(out, 0);  // no menu
  PutWord(out, 0);  // the standard dialog class
  PutString(out, t.caption);
  PutWord(out, static_cast<WORD>(t.font_points));
  PutWord(out, static_cast<WORD>(t.font_weight));
  PutWord(out, 0x0100);  // italic 0, charset DEFAULT_CHARSET (1) in the high byte
  PutString(out, t.font_face);

  for (size_t i = 0; i < count; ++i) {
    const ControlTemplate& c = t.controls[i];
    AlignDword(out);
    ItemClass ic = ClassAndStyle(c);
    DWORD item_style = WS_CHILD | ic.style;
    if (!(c.style & kStyleHidden)) item_style |= WS_VISIBLE;
    if (c.style & kStyleDisabled) item_style |= WS_DISABLED;
    if (c.style & kStyleGroupStart) item_style |= WS_GROUP;
    // The control after a run of radio buttons closes their group, so that the automatic radio
    // logic and the arrow keys stay inside it.
    bool after_radios = i > 0 && t.controls[i - 1].kind == ControlKind::kRadioButton &&
                        c.kind != ControlKind::kRadioButton;
    if (after_radios) item_style |= WS_GROUP;
    if (c.style & kStyleVScroll) item_style |= WS_VSCROLL;
    if ((c.style & kStyleAutoHScroll) && c.kind == ControlKind::kComboBox) {
      item_style |= CBS_AUTOHSCROLL;
    }
    DWORD ex_style = 0;
    if (c.kind == ControlKind::kEdit) ex_style |= WS_EX_CLIENTEDGE;
    if ((c.style & kStyleBorder) && c.kind == ControlKind::kStatic) item_style |= WS_BORDER;
    PutDword(out, 0);  // helpID
    PutDword(out, ex_style);
    PutDword(out, item_style);
    PutWord(out, static_cast<WORD>(c.x));
    PutWord(out, static_cast<WORD>(c.y));
    PutWord(out, static_cast<WORD>(c.cx));
    PutWord(out, static_cast<WORD>(c.cy));
    PutDword(out, static_cast<DWORD>(c.id));
    PutString(out, ic.name);
    // Up-downs and bars have no text; a combo box's template text is not a list entry.
    bool has_text = c.kind != ControlKind::kUpDown && c.kind != ControlKind::kProgressBar &&
                    c.kind != ControlKind::kComboBox;
    PutString(out, has_text ? c.text : std::string());
    PutWord(out, 0);  // no creation data
  }
  return out;
}

}  // namespace ui::win32
