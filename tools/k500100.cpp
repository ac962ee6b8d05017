// The window program: the monitor screen for this terminal's EDI centers.
// Usage: k500100 OPERATOR-CODE
#include <QApplication>
#include <QTimer>
#include <atomic>

#include "monitor/MonitorStartup.h"
#include "monitor/MonitorWindow.h"
#include "monitor/ProgressWindow.h"
#include "monitor/QtMessageBoxes.h"
#include "startup/Settings.h"
#include "startup/SystemProfile.h"
#include "transfer/JobRunner.h"
#include "transfer/ProgramConverters.h"
#include "transfer/ReceiveRun.h"
#include "transfer/StopSignals.h"

int main(int argc, char** argv) {
    std::atomic<bool> stop{false};
    edi::InstallStopSignals(stop);
    QApplication app(argc, argv);
    edi::WorkArea work;
    edi::LocateProgram(work);
    edi::QtMessageBoxes boxes;
    const edi::SystemClock clock;
    const edi::cProfile profile;

    edi::MonitorWindow window(work, boxes, clock);
    boxes.SetParent(&window);
    if (!edi::InitEnvironment(work, boxes, window, profile)) return 1;
    if (!edi::InitMainScreen(work, boxes, window, clock, edi::CommandLineText(argc, argv))) return 1;

    // Jobs run inside the event that starts them: the grid, the progress windows and the
    // registration program's wait all happen on this one thread.
    edi::ProgressWindow mail_progress(&window);
    edi::ProgramConverters converters;
    edi::SpawnProcessStarter starter;
    edi::JobRunner runner(work, clock, boxes, mail_progress, window, converters, starter);
    edi::ReceiveRun run(work, runner, stop);
    window.SetRunStarter([&run](const std::vector<int>& rows) { return run.Run(rows); });

    // SIGTERM or SIGINT: a run in progress ends after its job in hand, then the program ends.
    QTimer stop_watch;
    QObject::connect(&stop_watch, &QTimer::timeout, [&] {
        if (stop.load() && !window.Running()) QApplication::quit();
    });
    stop_watch.start(edi::kTimerIntervalMs);
    return QApplication::exec();
}
