// quarnel-gui: the converter's dialog for Linux desktops.
#include <QApplication>
#include <QString>
#include <string>

#include "quarnel/file_access_setup.h"
#include "quarnel_window.h"

int main(int argc, char* argv[]) {
  // Before Qt starts any thread of its own.
  quarnel::PrepareFileAccess();
  QApplication app(argc, argv);
  // Window managers and message boxes name the program "Quarnel", not by the
  // executable's name; the desktop file ties the window to its launcher.
  QApplication::setApplicationName(QString::fromStdWString(std::wstring(quarnel::ui::kApplicationName)));
  QGuiApplication::setDesktopFileName(QStringLiteral("quarnel"));
  QApplication::setWindowIcon(quarnel::ui::QuarnelIcon());

  quarnel::ui::QuarnelWindow window;
  window.exec();
  return 0;
}
