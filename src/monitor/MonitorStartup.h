// Start-up of the window program: configuration, system profile, database, settings,
// appearance, center list and operator code, in this order. Any failure shows its one
// message (OK only, no icon) and the program ends.
#pragma once

#include <functional>
#include <string>

#include "monitor/MonitorWindow.h"
#include "startup/Clock.h"
#include "startup/MessageBox.h"
#include "startup/SystemProfile.h"
#include "startup/WorkArea.h"

namespace edi {

inline constexpr const char* kConnectError = "接続エラー";
inline constexpr const char* kOperatorError = "オペレータ入力エラー";

// The whole command line after the program name, as the operator typed it.
std::string CommandLineText(int argc, char** argv);

// Runs a task on the thread that owns the database session and waits for it (SessionThread::Call).
using DbCall = std::function<void(const std::function<void()>& task)>;
// The caller's own thread: for a program or a test that has only one.
void RunHere(const std::function<void()>& task);

// False after the failure's message has been shown. Every database step runs through db; the
// messages are shown here, on the user-interface thread.
bool InitEnvironment(WorkArea& work, MessageBoxes& boxes, MonitorWindow& window, const cProfile& profile,
                     const DbCall& db = RunHere);
bool InitMainScreen(WorkArea& work, MessageBoxes& boxes, MonitorWindow& window, const Clock& clock,
                    const std::string& command_line, const DbCall& db = RunHere);

}  // namespace edi
