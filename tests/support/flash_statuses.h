// What the flashing dialog's status line shows, in order, on a flash that succeeds: one list for
// the suites that drive the dialog on the headless host, through Win32 and through Qt.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

inline const char kFlashDone[] = "升级完成，请关闭此对话框。如未能成功打开端口，请重新插拔读卡器";

inline const std::vector<std::string>& SuccessfulFlashStatuses() {
  static const std::vector<std::string> statuses = {
      "开始升级读卡器，请等待升级完成",
      "升级文件校验成功，正在查找DFU设备",
      "找到DFU设备，正在打开",
      "DFU设备打开成功，开始升级",
      "正在升级，请保持读卡器连接",
      "升级成功",
      "正在校验升级，请稍后",
      "校验成功",
      kFlashDone,
  };
  return statuses;
}

}  // namespace testsupport
