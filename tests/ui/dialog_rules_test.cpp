// The rules the framework holds for the backends without Windows' dialog manager: radio groups,
// what Enter presses, where a new window goes.
#include <gtest/gtest.h>

#include <vector>

#include "ui/dialog_template.h"

namespace {

using ui::ControlKind;
using ui::WindowPlace;
using ui::WorkArea;

ui::ControlTemplate Row(int id, ControlKind kind, uint32_t style = ui::kStyleNone) {
  ui::ControlTemplate c;
  c.id = id;
  c.kind = kind;
  c.style = style;
  return c;
}

TEST(DialogRules, RadioGroupsRunFromAGroupStartToTheNextStartOrOtherControl) {
  ui::DialogTemplate t;
  t.controls = {
      Row(10, ControlKind::kRadioButton, ui::kStyleGroupStart),
      Row(11, ControlKind::kRadioButton),
      Row(ui::kStaticId, ControlKind::kRadioButton),  // in the run, but never addressed
      Row(12, ControlKind::kRadioButton),
      Row(20, ControlKind::kRadioButton, ui::kStyleGroupStart),
      Row(21, ControlKind::kRadioButton),
      Row(30, ControlKind::kCheckBox),
      Row(31, ControlKind::kRadioButton),  // no group start: the other control began its group
      Row(32, ControlKind::kRadioButton),
  };
  EXPECT_EQ(t.RadioGroup(12), (std::vector<int>{10, 11, 12}));  // from any member, the whole group
  EXPECT_EQ(t.RadioGroup(21), (std::vector<int>{20, 21}));
  EXPECT_EQ(t.RadioGroup(32), (std::vector<int>{31, 32}));
  EXPECT_TRUE(t.RadioGroup(30).empty());  // not a radio button
  EXPECT_TRUE(t.RadioGroup(ui::kStaticId).empty());
  EXPECT_TRUE(t.RadioGroup(99).empty());
}

TEST(DialogRules, EnterPressesTheFocusedButtonElseAPressableDefaultElseOk) {
  ui::DialogTemplate t;
  t.controls = {Row(40, ControlKind::kEdit), Row(41, ControlKind::kPushButton),
                Row(42, ControlKind::kPushButton, ui::kStyleDefault)};
  auto all = [](int) { return true; };
  EXPECT_EQ(ui::EnterCommand(t, 41, all), 41);
  EXPECT_EQ(ui::EnterCommand(t, 40, all), 42);  // focus in an edit: the default button
  EXPECT_EQ(ui::EnterCommand(t, 0, [](int) { return false; }), 0);  // disabled or hidden
  EXPECT_EQ(ui::EnterCommand(t, 0, nullptr), 0);
  t.controls.pop_back();
  EXPECT_EQ(ui::EnterCommand(t, 40, all), ui::kIdOk);  // no default button
}

// Inside the work area, moved the least; one larger than the area keeps its top-left corner (title
// bar, close box) on the screen; no screen: where it asked. A new window counts its place from the
// work area (below a top panel, not under it), or is centred on it.
TEST(DialogRules, WindowGoesInsideTheWorkAreaMovedTheLeast) {
  const WorkArea panel{0, 40, 1366, 728}, small{0, 0, 800, 600}, none{};
  struct Case {
    bool initial, centred;
    WorkArea area;
    WindowPlace asked;
    int cx, cy;
    WindowPlace expected;
  } cases[] = {
      {false, false, panel, {1300, 500}, 460, 610, {906, 158}},
      {false, false, panel, {-50, 0}, 460, 610, {0, 40}},
      {false, false, small, {30, 30}, 920, 700, {0, 0}},
      {false, false, none, {30, 30}, 460, 610, {30, 30}},
      {true, false, panel, {20, 30}, 460, 610, {20, 70}},
      {true, false, panel, {1000, 0}, 460, 610, {906, 40}},
      {true, false, none, {20, 30}, 460, 610, {20, 30}},
      {true, true, panel, {20, 30}, 460, 610, {453, 99}},
      {true, true, small, {}, 920, 700, {0, 0}},
  };
  for (const Case& c : cases) {
    ui::DialogTemplate t;
    if (c.centred) t.style |= ui::kWindowCenter;
    WindowPlace got = c.initial ? ui::InitialWindowPlace(t, c.area, c.asked, c.cx, c.cy)
                                : ui::PlaceInside(c.area, c.asked, c.cx, c.cy);
    EXPECT_EQ(got, c.expected) << c.initial << c.centred << " " << c.asked.x << "," << c.asked.y;
  }
}

}  // namespace
