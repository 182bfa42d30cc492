// quarnel_qt_batch_benchmark DIR: converts the folder DIR through the Qt
// dialog, as a user who picked it and pressed Convert, and prints how long it
// took from Convert to the full results window, and how late a 20 ms timer
// on the window's event loop came at worst meanwhile (the window must stay
// responsive while the batch runs on its worker thread).
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>

#include "batch_results_window.h"
#include "quarnel_window.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: quarnel_qt_batch_benchmark DIR\n");
    return 2;
  }
  constexpr int kTickMs = 20;
  QElapsedTimer clock;
  qint64 finished = -1;
  int rows = 0;
  quarnel::ui::QtDialogBoxes boxes;
  boxes.showMessage = [](QWidget*, const quarnel::ui::MessageRequest& message) {
    std::fprintf(stderr, "unexpected message: %ls\n", message.text.c_str());
  };
  boxes.askYesNo = [](QWidget*, const quarnel::ui::MessageRequest&) { return false; };
  qint64 worstLateness = 0;
  qint64 lastTick = 0;
  // How late the loop is at `now`, had the timer been due since the last tick.
  const auto noteLateness = [&](qint64 now) {
    worstLateness = std::max(worstLateness, now - lastTick - kTickMs * 1000000LL);
    lastTick = now;
  };
  // The full window is there: the clock stops, and the time the loop was
  // held up to here counts; closing the window does not.
  boxes.runResults = [&](quarnel::ui::BatchResultsWindow& window) {
    finished = clock.nsecsElapsed();
    noteLateness(finished);
    rows = window.findChild<QTreeWidget*>(QStringLiteral("resultRows"))->topLevelItemCount();
    application.quit();
  };
  quarnel::ui::QuarnelWindow window(boxes);
  window.show();
  window.OpenSourceFiles({QString::fromLocal8Bit(argv[1])});

  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (finished < 0) noteLateness(clock.nsecsElapsed());
  });
  QTimer::singleShot(0, [&] {
    clock.start();
    lastTick = 0;
    tick.start(kTickMs);
    window.findChild<QPushButton*>(QStringLiteral("convertButton"))->click();
  });
  application.exec();
  std::printf("files %d\nconvert-to-results-s %.3f\nworst-timer-lateness-ms %.1f\n", rows,
              static_cast<double>(finished) / 1e9, static_cast<double>(worstLateness) / 1e6);
  return finished >= 0 ? 0 : 1;
}
