// The seam through which the logic shows message boxes: the window answers with
// real dialogs, the headless runner prints, tests record and answer in advance.
#pragma once

#include <string>

namespace edi {

enum class MessageIcon { kNone, kExclamation, kCritical, kQuestion, kInformation };
enum class MessageButtons { kOk, kYesNo };
// The platform's button values.
enum class MessageAnswer { kOk = 1, kYes = 6, kNo = 7 };

struct MessageRequest {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::kNone;
    MessageButtons buttons = MessageButtons::kOk;
};

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual MessageAnswer Show(const MessageRequest& request) = 0;
};

// The program's title, shown as the caption of its messages.
inline constexpr const char* kProgramTitle = "材料メーカEDI受信";

}  // namespace edi
