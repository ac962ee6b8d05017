// Start-up of the window program: configuration, system profile, database, settings,
// appearance, center list and operator code, in this order. Any failure shows its one
// message (OK only, no icon) and the program ends.
#pragma once

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

// False after the failure's message has been shown.
bool InitEnvironment(WorkArea& work, MessageBoxes& boxes, MonitorWindow& window, const cProfile& profile);
bool InitMainScreen(WorkArea& work, MessageBoxes& boxes, MonitorWindow& window, const Clock& clock,
                    const std::string& command_line);

}  // namespace edi
