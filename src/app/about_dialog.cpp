// The About box. Portable.
#include "app/about_dialog.h"

#include "app/main_window_template.h"
#include "platform/executable.h"

namespace app {

CAboutDialog::CAboutDialog() : ui::Dialog(AboutTemplate()) {}

bool CAboutDialog::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  SetItemText(ids::kAboutVersion, platform::ProductVersionText());
  return true;
}

}  // namespace app
