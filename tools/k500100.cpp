// The window program: the monitor screen for this terminal's EDI centers.
// Usage: k500100 OPERATOR-CODE
#include <QApplication>
#include <QTimer>
#include <atomic>

#include "monitor/MonitorStartup.h"
#include "monitor/MonitorWindow.h"
#include "monitor/ProgressWindow.h"
#include "monitor/QtMessageBoxes.h"
#include "monitor/UiThread.h"
#include "startup/DbSession.h"
#include "startup/SessionThread.h"
#include "startup/Settings.h"
#include "startup/SystemProfile.h"
#include "transfer/CenterHistory.h"
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

    // Jobs run on the session thread; what they show reaches the screen as events.
    edi::ProgressWindow mail_progress(&window);
    edi::UiJobDisplay display(window, &window);
    edi::UiMessageBoxes job_boxes(boxes, &window);
    edi::UiProgressView progress(mail_progress, &window);
    edi::ProgramConverters converters;
    edi::SpawnProcessStarter starter(work.EDIINFIL);
    edi::JobRunner runner(work, clock, job_boxes, progress, display, converters, starter);
    edi::ReceiveRun run(work, runner, stop);

    // Declared last, so it ends first: the tasks it still holds run while everything they use is there.
    edi::SessionThread session;
    const auto on_session = [&session](const std::function<void()>& task) { session.Call(task); };
    // The session is dropped on the thread that opened it.
    const auto end = [&](int status) {
        session.Call([&work] { work.Db.reset(); });
        return status;
    };
    if (!edi::InitEnvironment(work, boxes, window, profile, on_session)) return end(1);
    if (!edi::InitMainScreen(work, boxes, window, clock, edi::CommandLineText(argc, argv), on_session)) return end(1);

    window.SetWorker([&session](std::function<void()> task) { session.Post(std::move(task)); });
    window.SetRunStarter([&run](const std::vector<int>& rows) { return run.Run(rows); });
    window.SetCarryOnStarter([&run](std::int32_t serial) { return run.CarryOn(serial); });
    window.SetHistoryReader([&work](const std::string& center, std::int32_t before) {
        return edi::ReadCenterHistory(work, center, before);
    });
    window.SetStopRequest([&stop] { stop = true; });

    // SIGTERM or SIGINT: a run in progress ends after its job in hand, then the program ends.
    QTimer stop_watch;
    QObject::connect(&stop_watch, &QTimer::timeout, [&] {
        // exit, not quit: quit would close the window, which asks the operator.
        if (stop.load() && !window.Running()) QApplication::exit(0);
    });
    stop_watch.start(edi::kTimerIntervalMs);
    return end(QApplication::exec());
}
