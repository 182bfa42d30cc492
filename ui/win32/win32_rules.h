// Rules of the Win32 dialog that need no window system, so that they can be
// tested on any platform: the application's name, the system-menu command of
// the About box, and where the minimised window's icon goes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarnel::ui {

// The system-menu command of the About entry (IDM_ABOUTBOX).
inline constexpr std::uint32_t kAboutBoxCommand = 0x0010;

// The application's name as the platform's frameworks take it: the base name
// of the running executable without its extension ("C:\x\Quarnel.exe" gives
// "Quarnel").
std::wstring ApplicationNameFromModulePath(std::wstring_view modulePath);

// True for the system-menu commands that open the About box: those whose
// identifier masked with 0xFFF0 is kAboutBoxCommand (16), that is 16 to 31.
bool IsAboutCommand(std::uint32_t command);

// Where an icon of `iconExtent` pixels goes to stand centred in a minimised
// window's client extent: (client - icon + 1) / 2, truncated toward zero.
int CentredIconOrigin(int clientExtent, int iconExtent);

}  // namespace quarnel::ui
