// The About box: the icon, the name, the rights notice, the build's version and OK.
#pragma once

#include "modal_dialog_win32.h"

namespace quarnel::win32 {

class CAboutDlg : public CModalDialog {
 public:
  explicit CAboutDlg(HINSTANCE instance);
};

}  // namespace quarnel::win32
