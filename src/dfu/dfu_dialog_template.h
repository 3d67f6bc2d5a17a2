// The flashing dialog's layout (template 136), its control and timer ids, and the texts it shows.
// Portable data.
#pragma once

#include "ui/dialog_template.h"

namespace dfu {

constexpr int kUpgradeTemplateId = 136;

namespace ids {
constexpr int kWarning = 1045;   // fixed text: do not close before the end
constexpr int kStatus = 1044;    // the status line (m_Status)
constexpr int kProgress = 1043;  // percent of the running operation; its text is the phase line
constexpr int kTransfer = 1046;  // the byte count line (m_TransferText)
}  // namespace ids

// The chain's steps, each a window timer.
namespace timers {
constexpr int kCheckPackage = 1;
constexpr int kEnterDfu = 2;
constexpr int kFindDevice = 3;
constexpr int kOpenDevice = 4;
constexpr int kLaunchUpgrade = 5;
constexpr int kPoll = 6;
constexpr int kLeave = 7;
constexpr int kStepMs = 500;
constexpr int kPollMs = 300;
}  // namespace timers

extern const char* const kUpgradeCaption;  // "DFU升级"
extern const char* const kWarningText;     // the fixed text of 1045

// Template 136: 289 x 104 dialog units, caption with system menu, modal frame.
ui::DialogTemplate UpgradeDialogTemplate();

}  // namespace dfu
