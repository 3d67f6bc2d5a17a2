// CAboutDialog: the modal About box (template 132) with the product version. Portable.
#pragma once

#include "ui/dialog.h"

namespace app {

class CAboutDialog : public ui::Dialog {
 public:
  CAboutDialog();

 protected:
  // Puts the version (Windows: from the executable's version resource; Linux: from the build)
  // into label 1036; a failed lookup leaves it empty.
  bool OnInitDialog() override;
};

}  // namespace app
