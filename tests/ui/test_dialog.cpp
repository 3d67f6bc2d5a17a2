// The template of the framework's test window.
#include "ui/test_dialog.h"

namespace ui_test {

ui::DialogTemplate TestTemplate() {
  using ui::ControlKind;
  ui::DialogTemplate t;
  t.resource_id = 200;
  t.caption = "测试窗口";
  t.cx = 400;
  t.cy = 200;
  t.style = ui::kWindowCaption | ui::kWindowSysMenu | ui::kWindowDialogFrame;
  t.controls = {
      {10, ControlKind::kPushButton, "启动", 10, 10, 50, 14, ui::kStyleDefault},
      {11, ControlKind::kPushButton, "停止", 70, 10, 50, 14},
      {ui::kStaticId, ControlKind::kGroupBox, "模式", 5, 30, 190, 40},
      {20, ControlKind::kCheckBox, "记录日志", 10, 40, 60, 12},
      {30, ControlKind::kRadioButton, "自动", 10, 55, 40, 10, ui::kStyleGroupStart},
      {31, ControlKind::kRadioButton, "仅USB", 60, 55, 40, 10},
      {32, ControlKind::kRadioButton, "Cat1", 110, 55, 40, 10},
      {40, ControlKind::kRadioButton, "不启用", 10, 75, 40, 10, ui::kStyleGroupStart},
      {41, ControlKind::kRadioButton, "启用", 60, 75, 40, 10},
      {50, ControlKind::kEdit, "", 10, 95, 60, 14, ui::kStyleDigitsOnly},
      {70, ControlKind::kUpDown, "", 70, 95, 11, 14,
       ui::kStyleAutoBuddy | ui::kStyleAlignRight | ui::kStyleArrowKeys},
      {51, ControlKind::kEdit, "", 90, 95, 60, 14, ui::kStyleDigitsOnly},
      {60, ControlKind::kComboBox, "", 10, 115, 60, 100, ui::kStyleVScroll},
      {80, ControlKind::kProgressBar, "", 10, 135, 180, 10},
      {90, ControlKind::kStatic, "标签", 10, 150, 100, 10},
      {99, ControlKind::kPushButton, "右边", 330, 10, 50, 14},
  };
  return t;
}

}  // namespace ui_test
