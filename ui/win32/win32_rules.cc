#include "win32_rules.h"

#include "quarnel/ui/quarnel_dlg.h"

namespace quarnel::ui {

std::wstring ApplicationNameFromModulePath(std::wstring_view modulePath) {
  std::wstring_view name = SplitAtLastSeparator(modulePath).name;
  const std::size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring_view::npos && dot != 0) name = name.substr(0, dot);
  return std::wstring(name);
}

bool IsAboutCommand(std::uint32_t command) {
  return (command & 0xFFF0) == kAboutBoxCommand;
}

int CentredIconOrigin(int clientExtent, int iconExtent) {
  // C++ division truncates toward zero: 30 wide gives 0, 28 wide gives -1.
  return (clientExtent - iconExtent + 1) / 2;
}

}  // namespace quarnel::ui
