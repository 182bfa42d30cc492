// The application object: prepares the common controls, runs the main dialog
// and ends the program when it closes.
#pragma once

#include <windows.h>

namespace quarnel::win32 {

class CQuarnelApp {
 public:
  explicit CQuarnelApp(HINSTANCE instance) : m_hInstance(instance) {}

  // Runs the main dialog until Cancel, Escape or Close. @return false: the
  // program has no message loop of its own and ends when this returns.
  bool InitInstance();

 private:
  HINSTANCE m_hInstance;
};

}  // namespace quarnel::win32
