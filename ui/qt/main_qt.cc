// quarnel-gui: the converter's dialog for Linux desktops.
#include <QApplication>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <cstring>
#include <string>

#include "quarnel/file_access_setup.h"
#include "quarnel/version.h"
#include "quarnel_window.h"

namespace {

constexpr char kUsage[] = "Usage: quarnel-gui [FILE...]\n       quarnel-gui --help | --version\n";

constexpr char kHelp[] =
    "\n"
    "Opens the dialog that converts a format file for the QZ21/25/27 family.\n"
    "With FILE, the dialog opens with FILE as the source and QZ_ followed by its\n"
    "name, in its folder, as the target, as if FILE had been browsed; nothing is\n"
    "converted until Convert is pressed. With several FILEs, or a folder, the\n"
    "dialog opens with them as a batch: Convert converts each beside itself, or\n"
    "into the output folder chosen, and shows a row of results per file.\n"
    "\n"
    "      --help     show this help\n"
    "      --version  show the version\n"
    "      --         end of options: a file name may begin with \"-\"\n";

}  // namespace

int main(int argc, char* argv[]) {
  // Answered before Qt starts, so they work without a display.
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::fputs("quarnel-gui " QUARNEL_VERSION_TEXT "\n", stdout);
      return 0;
    }
  }

  // Before Qt starts any thread of its own.
  quarnel::PrepareFileAccess();
  QApplication app(argc, argv);
  // Window managers and message boxes name the program "Quarnel", not by the
  // executable's name; the desktop file ties the window to its launcher.
  QApplication::setApplicationName(QString::fromStdWString(std::wstring(quarnel::ui::kApplicationName)));
  QGuiApplication::setDesktopFileName(QStringLiteral("quarnel"));
  QApplication::setWindowIcon(quarnel::ui::QuarnelIcon());

  // Qt has taken its own options (-platform and the like) out by now.
  QStringList files;
  bool options = true;
  const QStringList arguments = QApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (options && argument == QLatin1String("--")) {
      options = false;
    } else if (options && argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
      std::fprintf(stderr, "quarnel-gui: unknown option %s\n%s", argument.toLocal8Bit().constData(), kUsage);
      return 2;
    } else {
      files.append(argument);
    }
  }
  quarnel::ui::QuarnelWindow window;
  if (!files.isEmpty()) window.OpenSourceFiles(files);
  window.exec();
  return 0;
}
