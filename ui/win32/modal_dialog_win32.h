// The little of a dialog framework that Quarnel's two dialogs need: a modal
// dialog from a template, whose window procedure forwards to members.
#pragma once

#include <windows.h>

namespace quarnel::win32 {

class CModalDialog {
 public:
  CModalDialog(HINSTANCE instance, int templateId) : m_hInstance(instance), m_nTemplateId(templateId) {}
  CModalDialog(const CModalDialog&) = delete;
  CModalDialog& operator=(const CModalDialog&) = delete;

  // Runs the dialog until it ends. @return the value given to EndDialog, or
  // -1 when the dialog could not be created.
  INT_PTR DoModal(HWND owner);

 protected:
  virtual ~CModalDialog() = default;

  // The window exists and its controls hold the template's texts. @return
  // TRUE to give the focus to the first tab stop.
  virtual BOOL OnInitDialog() { return TRUE; }
  // IDOK (the default button, Enter) and IDCANCEL (Escape, Close): both end
  // the dialog unless a subclass decides otherwise.
  virtual void OnOK() { EndDialog(m_hWnd, IDOK); }
  virtual void OnCancel() { EndDialog(m_hWnd, IDCANCEL); }
  // Every other message. @return true when handled, with the dialog
  // procedure's return value in `result`; false leaves it to the platform.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

  HWND m_hWnd = nullptr;
  HINSTANCE m_hInstance;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  int m_nTemplateId;
};

}  // namespace quarnel::win32
