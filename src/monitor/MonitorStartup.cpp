#include "monitor/MonitorStartup.h"

#include "convert/codec/Codec.h"
#include "monitor/Appearance.h"
#include "startup/CenterList.h"
#include "startup/DbSession.h"
#include "startup/Settings.h"

namespace edi {
namespace {

bool Fail(MessageBoxes& boxes, const char* message) {
    boxes.Show(MessageRequest{message, kProgramTitle, MessageIcon::kNone, MessageButtons::kOk});
    return false;
}

}  // namespace

std::string CommandLineText(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    return line;
}

bool InitEnvironment(WorkArea& work, MessageBoxes& boxes, MonitorWindow& window, const cProfile& profile) {
    if (!ReadRunEnvironment(work)) return Fail(boxes, kIniReadError);
    work.TerminalName = profile.machine();
    // The connection comes before the other settings: a failing database is reported
    // even when later settings are wrong too.
    if (!ConnectDatabase(work)) return Fail(boxes, kConnectError);
    if (!ReadSettings(work)) return Fail(boxes, kIniReadError);
    if (!ApplyAppearance(window, work.Appearance)) return Fail(boxes, kAppearanceError);
    return true;
}

bool InitMainScreen(WorkArea& work, MessageBoxes& boxes, MonitorWindow& window, const Clock& clock,
                    const std::string& command_line) {
    ReadStatusColors(work);
    if (LoadCenters(work, boxes) != "0000") return false;
    window.FillCenterGrid([&work](const std::string& method) { return LookupKubunName(work, "送受信方式", method); });
    window.ClearScreenFields();
    window.PrepareLabels(FormatDate(clock.Now()));
    work.RunState = 0;
    window.show();
    work.OperatorCode = TrimBlanks(command_line);
    window.ShowOperator();
    return true;
}

}  // namespace edi
