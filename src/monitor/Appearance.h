// Colours and fonts of section Setting0 applied to a screen's controls by kind and name.
#pragma once

#include <QColor>
#include <QFont>
#include <optional>
#include <string>

#include "startup/WorkArea.h"

class QWidget;
class QLineEdit;

namespace edi {

inline constexpr const char* kAppearanceError = "項目設定エラー";

// A stored colour number: 0x00BBGGRR, or a system colour when the high bit is set.
QColor ColorFromNumber(double value);
// A truth text as the settings hold it: True/False in any case, or a number (0 is false).
std::optional<bool> TruthOf(const std::string& text);
// The group's font, or nothing when a flag, the size or the font name is not acceptable.
std::optional<QFont> FontOf(const LookGroup& group);

// Screen background, then every text field (text-field group) and every label whose name
// begins with "lbl_" or "OPR_" (label group) or "tit_" (title group). False on any failure.
bool ApplyAppearance(QWidget& screen, const AppearanceSettings& settings);

// Background of an entry field: mode "2" normal, any other mode the focus colour.
void SetFieldColor(QLineEdit& field, const std::string& mode, const AppearanceSettings& settings);

}  // namespace edi
