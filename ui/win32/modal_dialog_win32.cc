#include "modal_dialog_win32.h"

namespace quarnel::win32 {

INT_PTR CModalDialog::DoModal(HWND owner) {
  return DialogBoxParamW(m_hInstance, MAKEINTRESOURCEW(m_nTemplateId), owner, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

bool CModalDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

INT_PTR CALLBACK CModalDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CModalDialog*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->m_hWnd = window;
    return self->OnInitDialog();
  }
  // Messages sent before WM_INITDIALOG (WM_SETFONT among them) find no object yet.
  auto* self = reinterpret_cast<CModalDialog*>(GetWindowLongPtrW(window, DWLP_USER));
  if (self == nullptr) return FALSE;

  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    switch (LOWORD(wParam)) {
      case IDOK:
        self->OnOK();
        return TRUE;
      case IDCANCEL:
        self->OnCancel();
        return TRUE;
      default:
        break;
    }
  }
  INT_PTR result = FALSE;
  if (!self->OnMessage(message, wParam, lParam, result)) return FALSE;
  return result;
}

}  // namespace quarnel::win32
