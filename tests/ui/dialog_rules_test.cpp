// The rules the framework holds for the backends without Windows' dialog manager: radio groups,
// what Enter presses, where a new window goes.
#include <gtest/gtest.h>

#include <vector>

#include "ui/dialog_template.h"

namespace {

using ui::ControlKind;
using ui::ControlTemplate;
using ui::DialogTemplate;
using ui::WindowPlace;
using ui::WorkArea;

ControlTemplate Row(int id, ControlKind kind, uint32_t style = ui::kStyleNone) {
  ControlTemplate c;
  c.id = id;
  c.kind = kind;
  c.style = style;
  return c;
}

TEST(DialogRules, RadioGroupsRunFromAGroupStartToTheNextStartOrOtherControl) {
  DialogTemplate t;
  t.controls = {
      Row(10, ControlKind::kRadioButton, ui::kStyleGroupStart),
      Row(11, ControlKind::kRadioButton),
      Row(ui::kStaticId, ControlKind::kRadioButton),  // in the run, but never addressed
      Row(12, ControlKind::kRadioButton),
      Row(20, ControlKind::kRadioButton, ui::kStyleGroupStart),  // a second group right after
      Row(21, ControlKind::kRadioButton),
      Row(30, ControlKind::kCheckBox),
      Row(31, ControlKind::kRadioButton),  // no group start: the other control began its group
      Row(32, ControlKind::kRadioButton),
  };
  const std::vector<int> first{10, 11, 12};
  EXPECT_EQ(t.RadioGroup(10), first);
  EXPECT_EQ(t.RadioGroup(12), first);  // from any member, the whole group
  EXPECT_EQ(t.RadioGroup(21), (std::vector<int>{20, 21}));
  EXPECT_EQ(t.RadioGroup(32), (std::vector<int>{31, 32}));
  EXPECT_TRUE(t.RadioGroup(30).empty());  // not a radio button
  EXPECT_TRUE(t.RadioGroup(99).empty());
  EXPECT_TRUE(t.RadioGroup(ui::kStaticId).empty());
}

TEST(DialogRules, EnterPressesTheFocusedButtonElseAPressableDefaultElseOk) {
  DialogTemplate t;
  t.controls = {Row(40, ControlKind::kEdit), Row(41, ControlKind::kPushButton),
                Row(42, ControlKind::kPushButton, ui::kStyleDefault)};
  auto all = [](int) { return true; };
  auto none = [](int) { return false; };
  EXPECT_EQ(ui::EnterCommand(t, 41, all), 41);
  EXPECT_EQ(ui::EnterCommand(t, 40, all), 42);  // focus in an edit: the default button
  EXPECT_EQ(ui::EnterCommand(t, 0, all), 42);
  EXPECT_EQ(ui::EnterCommand(t, 0, none), 0);  // a disabled or hidden default: nothing
  EXPECT_EQ(ui::EnterCommand(t, 0, nullptr), 0);
  t.controls.pop_back();
  EXPECT_EQ(ui::EnterCommand(t, 40, all), ui::kIdOk);  // no default button
}

TEST(DialogRules, WindowGoesInsideTheWorkAreaMovedTheLeast) {
  const WorkArea top_panel{0, 40, 1366, 728};  // a 40-pixel panel along the top
  // Asked for too far right or down: moved in just enough.
  EXPECT_EQ(ui::PlaceInside(top_panel, WindowPlace{1300, 500}, 460, 610), (WindowPlace{906, 158}));
  // Above or left of the area: moved in.
  EXPECT_EQ(ui::PlaceInside(top_panel, WindowPlace{-50, 0}, 460, 610), (WindowPlace{0, 40}));
  // Larger than the area: its top-left corner (title bar, close box) stays on the screen.
  EXPECT_EQ(ui::PlaceInside(WorkArea{0, 0, 800, 600}, WindowPlace{30, 30}, 920, 700),
            (WindowPlace{0, 0}));
  // No screen: where it asked.
  EXPECT_EQ(ui::PlaceInside(WorkArea{}, WindowPlace{30, 30}, 460, 610), (WindowPlace{30, 30}));
}

TEST(DialogRules, NewWindowCountsItsPlaceFromTheWorkAreaOrIsCentredOnIt) {
  DialogTemplate t;
  const WorkArea top_panel{0, 40, 1366, 728};
  // The template's corner counts from the work area: below the panel, not under it.
  EXPECT_EQ(ui::InitialWindowPlace(t, top_panel, WindowPlace{0, 0}, 460, 610),
            (WindowPlace{0, 40}));
  EXPECT_EQ(ui::InitialWindowPlace(t, top_panel, WindowPlace{20, 30}, 460, 610),
            (WindowPlace{20, 70}));
  // ... and is still moved in.
  EXPECT_EQ(ui::InitialWindowPlace(t, top_panel, WindowPlace{1000, 0}, 460, 610),
            (WindowPlace{906, 40}));
  EXPECT_EQ(ui::InitialWindowPlace(t, WorkArea{}, WindowPlace{20, 30}, 460, 610),
            (WindowPlace{20, 30}));
  t.style |= ui::kWindowCenter;
  EXPECT_EQ(ui::InitialWindowPlace(t, top_panel, WindowPlace{20, 30}, 460, 610),
            (WindowPlace{453, 99}));
  // Centred but larger than the area: the top-left corner stays on it.
  EXPECT_EQ(ui::InitialWindowPlace(t, WorkArea{0, 0, 800, 600}, WindowPlace{}, 920, 700),
            (WindowPlace{0, 0}));
}

}  // namespace
