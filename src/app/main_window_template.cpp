// Templates 129 and 132 as tables. Portable data.
#include "app/main_window_template.h"

namespace app {

namespace {

using ui::ControlKind;
using ui::ControlTemplate;
using ui::kStaticId;

ControlTemplate Row(int id, ControlKind kind, const char* text, int x, int y, int cx, int cy,
                    uint32_t style = ui::kStyleNone) {
  ControlTemplate c;
  c.id = id;
  c.kind = kind;
  c.text = text;
  c.x = x;
  c.y = y;
  c.cx = cx;
  c.cy = cy;
  c.style = style;
  return c;
}

ControlTemplate Button(int id, const char* text, int x, int y, int cx, int cy,
                       uint32_t style = ui::kStyleNone) {
  return Row(id, ControlKind::kPushButton, text, x, y, cx, cy, style);
}
ControlTemplate Group(const char* text, int x, int y, int cx, int cy) {
  return Row(kStaticId, ControlKind::kGroupBox, text, x, y, cx, cy);
}
ControlTemplate Label(int id, const char* text, int x, int y, int cx, int cy) {
  return Row(id, ControlKind::kStatic, text, x, y, cx, cy);
}
ControlTemplate Radio(int id, const char* text, int x, int y, int cx, int cy, bool first) {
  return Row(id, ControlKind::kRadioButton, text, x, y, cx, cy,
             first ? ui::kStyleGroupStart : ui::kStyleNone);
}
ControlTemplate Check(int id, const char* text, int x, int y, int cx, int cy) {
  return Row(id, ControlKind::kCheckBox, text, x, y, cx, cy);
}
// Single-line edits scroll sideways; a multi-line edit wraps its text instead (the 64-digit
// authorization code takes two lines rather than hiding its end).
ControlTemplate Edit(int id, int x, int y, int cx, int cy, uint32_t style = ui::kStyleNone) {
  const uint32_t scroll = (style & ui::kStyleMultiLine) ? ui::kStyleNone : ui::kStyleAutoHScroll;
  return Row(id, ControlKind::kEdit, "", x, y, cx, cy, style | ui::kStyleBorder | scroll);
}
ControlTemplate Spin(int id, int x, int y, int cx, int cy) {
  return Row(id, ControlKind::kUpDown, "", x, y, cx, cy,
             ui::kStyleAlignRight | ui::kStyleArrowKeys);
}

}  // namespace

ui::DialogTemplate MainWindowTemplate() {
  ui::DialogTemplate t;
  t.resource_id = kMainTemplateId;
  t.caption = kMainWindowTitle;
  t.x = 0;
  t.y = 0;
  t.cx = 613;
  t.cy = 357;
  t.style = ui::kWindowCaption | ui::kWindowSysMenu | ui::kWindowDialogFrame;
  auto& c = t.controls;
  // Left half.
  c.push_back(Button(ids::kStart, "启动", 58, 16, 50, 14, ui::kStyleDefault));
  c.push_back(Button(ids::kStop, "停止", 192, 16, 50, 14));
  c.push_back(Group("启动设置", 21, 42, 271, 40));
  c.push_back(Check(ids::kAutostartSystem, "开机自启动", 34, 58, 101, 14));
  c.push_back(Check(ids::kAutoStartService, "自动启动服务", 171, 58, 96, 14));
  c.push_back(Group("串口", 21, 87, 272, 29));
  c.push_back(Row(ids::kPortBox, ControlKind::kComboBox, "", 54, 98, 48, 117,
                  ui::kStyleVScroll | ui::kStyleAutoHScroll));
  c.push_back(Button(ids::kChangePort, "修改串口", 114, 98, 50, 12));
  c.push_back(Label(ids::kPortLabel, "当前使用的串口为：", 184, 98, 98, 12));
  c.push_back(Group("网络模式", 21, 119, 272, 40));
  c.push_back(Radio(ids::kModeAuto, "自动(USB优先)", 27, 140, 62, 10, true));
  c.push_back(Radio(ids::kModeUsb, "仅USB", 116, 140, 56, 10, false));
  c.push_back(Radio(ids::kModeCat1, "Cat1", 190, 140, 31, 10, false));
  c.push_back(Button(ids::kSwitchMode, "切换网络模式", 235, 134, 57, 19));
  c.push_back(Group("运行状态", 21, 166, 272, 70));
  c.push_back(Label(kStaticId, "串口：", 28, 182, 30, 10));
  c.push_back(Label(ids::kComState, "", 61, 182, 45, 10));
  c.push_back(Label(kStaticId, "接收：", 123, 182, 30, 10));
  c.push_back(Label(ids::kComRead, "", 156, 182, 45, 10));
  c.push_back(Label(kStaticId, "发送：", 207, 182, 30, 10));
  c.push_back(Label(ids::kComWrite, "", 240, 182, 45, 10));
  c.push_back(Label(kStaticId, "连接：", 28, 212, 30, 10));
  c.push_back(Label(ids::kServerState, "", 61, 212, 45, 10));
  c.push_back(Label(kStaticId, "接收：", 123, 212, 30, 10));
  c.push_back(Label(ids::kServerRecv, "", 156, 212, 45, 10));
  c.push_back(Label(kStaticId, "发送：", 207, 212, 30, 10));
  c.push_back(Label(ids::kServerSend, "", 240, 212, 45, 10));
  c.push_back(Group("Cat1模块信息", 21, 242, 272, 40));
  c.push_back(Label(kStaticId, "是否有Cat1模块：", 28, 260, 65, 15));
  c.push_back(Label(ids::kCat1Present, "", 100, 260, 29, 15));
  c.push_back(Label(kStaticId, "型号：", 158, 260, 32, 15));
  c.push_back(Label(ids::kCat1Model, "", 207, 260, 45, 15));
  c.push_back(Group("网络质量检测", 21, 288, 272, 37));
  c.push_back(Button(ids::kQualityTest, "开始检测", 30, 301, 50, 14));
  c.push_back(Label(ids::kQualityResult, "", 100, 293, 177, 29));
  c.push_back(Button(ids::kAbout, "关于", 127, 336, 50, 14));
  // Right half: the reader configuration panel.
  c.push_back(Button(ids::kCollapse, "收起", 556, 7, 50, 14));
  c.push_back(Group("授权信息", 326, 18, 268, 100));
  c.push_back(Label(kStaticId, "License：", 336, 40, 34, 10));
  c.push_back(Label(kStaticId, "mac:", 341, 65, 30, 10));
  c.push_back(Label(kStaticId, "iccid:", 342, 90, 30, 10));
  c.push_back(Edit(ids::kLicense, 371, 30, 220, 26, ui::kStyleMultiLine));
  c.push_back(Edit(ids::kMac, 373, 63, 138, 14));
  c.push_back(Edit(ids::kIccid, 373, 87, 139, 13));
  c.push_back(Button(ids::kQueryAuth, "查询", 540, 96, 50, 14));
  c.push_back(Group("配置", 327, 123, 266, 88));
  c.push_back(Label(kStaticId, "连接平台方式：", 334, 137, 57, 9));
  c.push_back(Radio(ids::kConnectAuto, "开机自动连接", 404, 137, 60, 9, true));
  c.push_back(Radio(ids::kConnectWait, "等待上位机连接", 499, 137, 71, 9, false));
  c.push_back(Label(kStaticId, "启用数据缓存：", 333, 156, 52, 10));
  c.push_back(Radio(ids::kCacheOff, "不启用", 404, 156, 40, 10, true));
  c.push_back(Radio(ids::kCacheOn, "启用", 499, 156, 54, 10, false));
  c.push_back(Label(kStaticId, "服务器地址：", 329, 173, 49, 13));
  c.push_back(Edit(ids::kServerAddress, 379, 169, 136, 15));
  c.push_back(Button(ids::kQueryPlatform, "查询", 540, 173, 50, 14));
  c.push_back(Label(kStaticId, "端口号：", 337, 198, 50, 10));
  c.push_back(Edit(ids::kServerPort, 381, 194, 58, 16));
  c.push_back(Button(ids::kChangePlatform, "修改", 540, 194, 50, 14));
  c.push_back(Button(ids::kQueryStatus, "查询终端连接状态", 326, 231, 82, 14));
  c.push_back(Label(kStaticId, "状态码：", 425, 234, 33, 8));
  c.push_back(Label(ids::kStatusCode, "", 464, 234, 25, 8));
  c.push_back(Label(kStaticId, "连接类型：", 506, 234, 41, 8));
  c.push_back(Label(ids::kConnectionType, "", 546, 234, 25, 8));
  c.push_back(Check(ids::kLog, "记录日志", 327, 258, 69, 13));
  c.push_back(Group("服务器心跳", 323, 282, 269, 51));
  c.push_back(Label(kStaticId, "USB心跳间隔：", 327, 297, 64, 13));
  c.push_back(Edit(ids::kUsbInterval, 395, 295, 66, 14, ui::kStyleDigitsOnly));
  c.push_back(Spin(ids::kUsbSpin, 461, 295, 11, 15));
  c.push_back(Label(kStaticId, "CAT1心跳间隔：", 328, 315, 64, 13));
  c.push_back(Edit(ids::kCat1Interval, 396, 313, 66, 14, ui::kStyleDigitsOnly));
  c.push_back(Spin(ids::kCat1Spin, 462, 313, 11, 15));
  c.push_back(Label(kStaticId, "秒", 475, 298, 12, 10));
  c.push_back(Label(kStaticId, "秒", 475, 315, 12, 10));
  c.push_back(Button(ids::kQueryHeartBeat, "查询", 495, 295, 50, 14));
  c.push_back(Button(ids::kChangeHeartBeat, "修改", 495, 313, 50, 14));
  return t;
}

ui::DialogTemplate AboutTemplate() {
  ui::DialogTemplate t;
  t.resource_id = kAboutTemplateId;
  t.caption = "关于";
  t.cx = 225;
  t.cy = 136;
  t.style = ui::kWindowCaption | ui::kWindowSysMenu | ui::kWindowModalFrame | ui::kWindowCenter;
  t.controls.push_back(Button(ui::kIdOk, "确定", 85, 110, 50, 14, ui::kStyleDefault));
  t.controls.push_back(Row(kStaticId, ControlKind::kStatic, "Ovra7Server 读卡服务", 15, 14, 185, 22,
                           ui::kStyleCenter));
  t.controls.push_back(
      Row(ids::kAboutVersion, ControlKind::kStatic, "", 20, 44, 185, 22, ui::kStyleCenter));
  t.controls.push_back(Row(kStaticId, ControlKind::kStatic, "Copyright (C) 2026 Ovra7", 20, 78, 185,
                           22, ui::kStyleCenter));
  return t;
}

}  // namespace app
