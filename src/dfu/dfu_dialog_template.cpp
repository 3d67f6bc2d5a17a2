// Template 136 as a table. Portable data.
#include "dfu/dfu_dialog_template.h"

namespace dfu {

const char* const kUpgradeCaption = "DFU升级";
const char* const kWarningText = "在程序升级成功或失败前，请勿关闭本对话框！";

namespace {

ui::ControlTemplate Row(int id, ui::ControlKind kind, const char* text, int y, int cy) {
  ui::ControlTemplate c;
  c.id = id;
  c.kind = kind;
  c.text = text;
  c.x = 12;
  c.y = y;
  c.cx = 265;
  c.cy = cy;
  return c;
}

}  // namespace

ui::DialogTemplate UpgradeDialogTemplate() {
  ui::DialogTemplate t;
  t.resource_id = kUpgradeTemplateId;
  t.caption = kUpgradeCaption;
  t.cx = 289;
  t.cy = 104;
  t.style = ui::kWindowCaption | ui::kWindowSysMenu | ui::kWindowModalFrame | ui::kWindowCenter;
  t.controls = {
      Row(ids::kWarning, ui::ControlKind::kStatic, kWarningText, 10, 10),
      Row(ids::kStatus, ui::ControlKind::kStatic, "", 30, 10),
      Row(ids::kProgress, ui::ControlKind::kProgressBar, "", 48, 14),
      Row(ids::kTransfer, ui::ControlKind::kStatic, "", 72, 10),
  };
  return t;
}

}  // namespace dfu
