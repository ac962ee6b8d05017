// k500100-batch: the receive jobs of every center of this terminal, without the window.
// Usage: k500100-batch [OPERATOR-CODE]
// Reads EDI.ini (two folder levels above the program, or K500100_INI), connects to the
// database, runs the job of every center once in grid order and prints one line per center
// with its three status cells. Exit status 0 when every center's job ended well, else 1.
#include <iostream>
#include <string>

#include "convert/codec/Codec.h"
#include "startup/CenterList.h"
#include "startup/Clock.h"
#include "startup/DbSession.h"
#include "startup/MessageBox.h"
#include "startup/Settings.h"
#include "startup/SystemProfile.h"
#include "transfer/ConsoleDisplay.h"
#include "transfer/JobRunner.h"
#include "transfer/ProgramConverters.h"
#include "transfer/ProgressView.h"

namespace {

// Messages go to the error stream; a question is answered No, so nothing ends unasked.
class ConsoleMessageBoxes final : public edi::MessageBoxes {
public:
    edi::MessageAnswer Show(const edi::MessageRequest& request) override {
        std::cerr << "k500100-batch: " << request.text << "\n";
        return request.buttons == edi::MessageButtons::kYesNo ? edi::MessageAnswer::kNo : edi::MessageAnswer::kOk;
    }
};

int Fail(edi::MessageBoxes& boxes, const char* message) {
    boxes.Show(edi::MessageRequest{message, edi::kProgramTitle, edi::MessageIcon::kNone, edi::MessageButtons::kOk});
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    edi::WorkArea work;
    edi::LocateProgram(work);
    ConsoleMessageBoxes boxes;
    const edi::SystemClock clock;
    const edi::cProfile profile;

    if (!edi::ReadRunEnvironment(work)) return Fail(boxes, edi::kIniReadError);
    work.TerminalName = profile.machine();
    std::string reason;
    if (!edi::ConnectDatabase(work, reason)) {
        Fail(boxes, "接続エラー");
        std::cerr << "k500100-batch: " << reason << "\n";
        return 1;
    }
    // Every database failure's ERR.LOG line is shown on the error stream too.
    work.Db->SetReportEcho([](const std::string& line) { std::cerr << "k500100-batch: " << line << "\n"; });
    if (!edi::ReadSettings(work)) return Fail(boxes, edi::kIniReadError);
    edi::ReadStatusColors(work);
    if (edi::LoadCenters(work, boxes) != "0000") return 1;

    std::string line;
    for (int i = 1; i < argc; ++i) line += (i > 1 ? " " : "") + std::string(argv[i]);
    work.OperatorCode = edi::TrimBlanks(line);
    work.RunState = 0;

    std::cout << "terminal " << work.TerminalName << ", operator " << work.OperatorCode << ", " << work.Centers.size()
              << " center(s)\n";
    edi::ConsoleProgress progress(std::cout);
    edi::ConsoleDisplay display(std::cout, work);
    edi::ProgramConverters converters;
    edi::SpawnProcessStarter starter;
    edi::JobRunner runner(work, clock, boxes, progress, display, converters, starter);
    edi::RunNow(work, runner);

    bool all_done = true;
    std::cout << "センターコード\tセンター名\t受信\t変換\tデータ登録\n";
    for (const edi::CenterEntry& entry : work.Centers) {
        std::cout << edi::CenterStatusLine(entry) << "\n";
        if (entry.RowState != edi::kRowDone) all_done = false;
    }
    return all_done ? 0 : 1;
}
