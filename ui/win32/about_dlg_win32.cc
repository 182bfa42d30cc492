#include "about_dlg_win32.h"

#include "resource.h"

namespace quarnel::win32 {

// Everything it shows is in its template; OK and Escape close it.
CAboutDlg::CAboutDlg(HINSTANCE instance) : CModalDialog(instance, IDD_ABOUTBOX) {}

}  // namespace quarnel::win32
