#include "monitor/MonitorStartup.h"

#include <map>
#include <vector>

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

// Keeps the messages a step on the session thread asks for, to be shown afterwards.
class KeptMessages final : public MessageBoxes {
public:
    MessageAnswer Show(const MessageRequest& request) override {
        kept.push_back(request);
        return MessageAnswer::kOk;
    }
    std::vector<MessageRequest> kept;
};

}  // namespace

void RunHere(const std::function<void()>& task) { task(); }

std::string CommandLineText(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    return line;
}

bool InitEnvironment(WorkArea& work, MessageBoxes& boxes, MonitorWindow& window, const cProfile& profile,
                     const DbCall& db) {
    if (!ReadRunEnvironment(work)) return Fail(boxes, kIniReadError);
    work.TerminalName = profile.machine();
    // The connection comes before the other settings: a failing database is reported
    // even when later settings are wrong too.
    bool connected = false;
    db([&] { connected = ConnectDatabase(work); });
    if (!connected) return Fail(boxes, kConnectError);
    if (!ReadSettings(work)) return Fail(boxes, kIniReadError);
    if (!ApplyAppearance(window, work.Appearance)) return Fail(boxes, kAppearanceError);
    window.LayoutControls();
    return true;
}

bool InitMainScreen(WorkArea& work, MessageBoxes& boxes, MonitorWindow& window, const Clock& clock,
                    const std::string& command_line, const DbCall& db) {
    ReadStatusColors(work);
    KeptMessages said;
    std::string loaded;
    std::map<std::string, std::string> method_names;
    db([&] {
        loaded = LoadCenters(work, said);
        if (loaded != "0000") return;
        for (const CenterEntry& center : work.Centers) {
            if (!method_names.contains(center.Method)) {
                method_names[center.Method] = LookupKubunName(work, "送受信方式", center.Method);
            }
        }
    });
    for (const MessageRequest& message : said.kept) boxes.Show(message);
    if (loaded != "0000") return false;
    window.FillCenterGrid([&method_names](const std::string& method) { return method_names[method]; });
    window.ClearScreenFields();
    window.PrepareLabels(FormatDate(clock.Now()));
    work.RunState = 0;
    window.show();
    work.OperatorCode = TrimBlanks(command_line);
    window.ShowOperator();
    return true;
}

}  // namespace edi
