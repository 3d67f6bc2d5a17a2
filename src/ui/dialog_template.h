// Dialog templates as plain data: controls with ids, kinds, texts and rectangles in dialog units.
// Portable: the windows of the program describe themselves with these tables; backends build them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ui {

// Controls without an id of their own (group boxes, fixed labels) use this id; they cannot be
// addressed by the item operations.
constexpr int kStaticId = -1;

// Ids the framework itself gives meaning to: a command with kIdOk runs Dialog::OnOK, kIdCancel
// (also sent by the close box and Escape) runs Dialog::OnCancel.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

enum class ControlKind {
  kPushButton,   // a command button; kStyleDefault makes it the default button
  kCheckBox,     // automatic check box: a click toggles it, then the command arrives
  kRadioButton,  // automatic radio button: kStyleGroupStart marks the first of a group
  kGroupBox,     // a frame with a title, never addressed
  kStatic,       // a label
  kEdit,         // single line unless kStyleMultiLine; kStyleDigitsOnly accepts only 0-9
  kComboBox,     // drop-down list with an edit field; its text is the edit field's text
  kUpDown,       // spin arrows; kStyleAutoBuddy, kStyleAlignRight, kStyleArrowKeys
  kProgressBar,  // a bar with a position in a range (0 to 100 unless set otherwise)
};

// Portable control style bits; each backend maps them onto its own styles.
enum ControlStyle : uint32_t {
  kStyleNone = 0,
  kStyleDefault = 1u << 0,       // push button: the default button (Enter presses it)
  kStyleGroupStart = 1u << 1,    // radio button: first of a group; any control: starts a tab group
  kStyleMultiLine = 1u << 2,     // edit: several lines, wrapped at its edge; Enter breaks a line
  kStyleDigitsOnly = 1u << 3,    // edit: typing accepts only the digits 0-9
  kStyleCenter = 1u << 4,        // static: centred text
  kStyleRight = 1u << 5,         // static: right-aligned text
  kStyleAutoBuddy = 1u << 6,     // up-down: takes the control before it as its buddy
  kStyleAlignRight = 1u << 7,    // up-down: sits at the right edge of its buddy
  kStyleArrowKeys = 1u << 8,     // up-down: the arrow keys step it
  kStyleReadOnly = 1u << 9,      // edit: shows text the user cannot change
  kStyleDisabled = 1u << 10,     // any control: disabled when the dialog is created
  kStyleHidden = 1u << 11,       // any control: not visible when the dialog is created
  kStyleVScroll = 1u << 12,      // edit, combo box: vertical scroll bar
  kStyleAutoHScroll = 1u << 13,  // edit, combo box: text scrolls sideways instead of stopping
                                 // (multi-line edit: its lines no longer wrap)
  kStyleBorder = 1u << 14,       // static, edit: a thin border
};

// Window style bits of the dialog itself.
enum WindowStyle : uint32_t {
  kWindowNone = 0,
  kWindowCaption = 1u << 0,      // title bar (with the close box when kWindowSysMenu is set)
  kWindowSysMenu = 1u << 1,      // system menu and close box
  kWindowDialogFrame = 1u << 2,  // fixed-size dialog frame
  kWindowModalFrame = 1u << 3,   // modal-dialog frame
  kWindowMinimizeBox = 1u << 4,
  kWindowMaximizeBox = 1u << 5,
  kWindowVisible = 1u << 6,  // shown as soon as it is created (a modal run is always shown)
  kWindowCenter = 1u << 7,   // centred on the screen instead of placed at x, y
};

// One row of a template. Rectangles are x, y, width, height in dialog units.
struct ControlTemplate {
  int id = kStaticId;
  ControlKind kind = ControlKind::kStatic;
  std::string text;  // UTF-8
  int x = 0;
  int y = 0;
  int cx = 0;
  int cy = 0;
  uint32_t style = kStyleNone;  // ControlStyle bits
};

struct DialogTemplate {
  int resource_id = 0;  // the template's number (129, 132, ...), for logs and lookups
  std::string caption;  // UTF-8 title
  int x = 0;            // position in dialog units (ignored with kWindowCenter)
  int y = 0;
  int cx = 0;  // size of the client area in dialog units
  int cy = 0;
  uint32_t style = kWindowCaption | kWindowSysMenu | kWindowModalFrame;  // WindowStyle bits
  std::string font_face = "MS Shell Dlg";
  int font_points = 8;
  int font_weight = 400;  // normal
  std::vector<ControlTemplate> controls;

  // The row with this id, or null (also for kStaticId).
  const ControlTemplate* Find(int id) const;

  // The radio group of the radio button with this id: the run of radio rows around it, from a
  // group start (or the row after another kind of control) to the next group start or other
  // control. Its ids in template order (rows without an id left out); empty for any other id.
  std::vector<int> RadioGroup(int id) const;
};

// The rules the dialog framework holds for every backend but Win32, where Windows applies its
// own. Pixels and screen rectangles are the backend's.

// What Enter presses, as Windows' dialog manager decides: the push button with the focus
// (focused_button: its id, or 0 for none), else the default button when the user can press it
// (can_press: enabled, shown) and nothing otherwise (0), else kIdOk.
int EnterCommand(const DialogTemplate& t, int focused_button,
                 const std::function<bool(int)>& can_press);

// Window placement in the backend's pixels.
struct WindowPlace {
  int x = 0;
  int y = 0;
  bool operator==(const WindowPlace& o) const { return x == o.x && y == o.y; }
};
struct WorkArea {  // the screen less its panels; empty (no screen) when width or height is 0
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// Where a window's frame of this size goes when it is made: at place (the template's place in
// pixels) counted from the work area's corner, as Windows counts it, so that a panel at the top
// does not cover the title bar; or centred on the area with kWindowCenter. Then moved in as
// PlaceInside moves it.
WindowPlace InitialWindowPlace(const DialogTemplate& t, const WorkArea& area, WindowPlace place,
                               int width, int height);
// Moved in just enough to lie inside the area; a window larger than the area keeps its top-left
// corner (title bar, close box, the first controls) on it. No area: wanted as it is.
WindowPlace PlaceInside(const WorkArea& area, WindowPlace wanted, int width, int height);

}  // namespace ui
