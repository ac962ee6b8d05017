#include "monitor/Appearance.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <cmath>

#include "convert/codec/Codec.h"
#include "startup/Settings.h"

namespace edi {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The few system colours a stored setting may name (high bit set, index in the low byte).
QColor SystemColor(unsigned index) {
    const QPalette palette = QApplication::palette();
    switch (index) {
        case 0x05: return palette.color(QPalette::Base);        // window background
        case 0x08: return palette.color(QPalette::Text);        // window text
        case 0x0D: return palette.color(QPalette::Highlight);   // highlight
        case 0x0E: return palette.color(QPalette::HighlightedText);
        case 0x12: return palette.color(QPalette::ButtonText);  // button text
        default: return palette.color(QPalette::Button);        // button face and the rest
    }
}

void ApplyGroup(QWidget& control, const LookGroup& group, const QFont& font) {
    QPalette palette = control.palette();
    const QColor back = ColorFromNumber(group.BackColor);
    palette.setColor(QPalette::Window, back);
    palette.setColor(QPalette::Base, back);
    control.setAutoFillBackground(true);
    control.setFont(font);
    palette.setColor(QPalette::WindowText, ColorFromNumber(group.ForeColor));
    palette.setColor(QPalette::Text, ColorFromNumber(group.ForeColor));
    control.setPalette(palette);
}

}  // namespace

QColor ColorFromNumber(double value) {
    const auto number = static_cast<std::int64_t>(std::llround(value));
    const auto bits = static_cast<std::uint32_t>(number);
    if ((bits & 0x80000000u) != 0) return SystemColor(bits & 0xFFu);
    return QColor(static_cast<int>(bits & 0xFF), static_cast<int>((bits >> 8) & 0xFF),
                  static_cast<int>((bits >> 16) & 0xFF));
}

std::optional<bool> TruthOf(const std::string& text) {
    const QString t = Q(TrimBlanks(text)).toLower();
    if (t == QStringLiteral("true")) return true;
    if (t == QStringLiteral("false")) return false;
    if (const auto number = StrictNumber(text)) return *number != 0;
    return std::nullopt;
}

std::optional<QFont> FontOf(const LookGroup& group) {
    const auto bold = TruthOf(group.FontBold);
    const auto italic = TruthOf(group.FontItalic);
    const auto strike = TruthOf(group.FontStrikethru);
    const auto underline = TruthOf(group.FontUnderline);
    const auto size = StrictNumber(group.FontSize);
    if (!bold || !italic || !strike || !underline || !size || *size <= 0 || *size > 500) return std::nullopt;
    QFont font = QApplication::font();
    const QString name = Q(TrimBlanks(group.FontName));
    if (!name.isEmpty()) {
        if (!QFontDatabase::families().contains(name, Qt::CaseInsensitive)) return std::nullopt;
        font.setFamily(name);
    }
    font.setPointSizeF(*size);
    font.setBold(*bold);
    font.setItalic(*italic);
    font.setStrikeOut(*strike);
    font.setUnderline(*underline);
    return font;
}

bool ApplyAppearance(QWidget& screen, const AppearanceSettings& settings) {
    const auto form_back = StrictNumber(settings.FormBackColor);
    if (!form_back) return false;
    const auto text_font = FontOf(settings.Text);
    const auto label_font = FontOf(settings.Label);
    const auto title_font = FontOf(settings.Title);
    if (!text_font || !label_font || !title_font) return false;

    QPalette palette = screen.palette();
    palette.setColor(QPalette::Window, ColorFromNumber(*form_back));
    screen.setPalette(palette);
    screen.setAutoFillBackground(true);

    for (QLineEdit* field : screen.findChildren<QLineEdit*>()) ApplyGroup(*field, settings.Text, *text_font);
    for (QLabel* label : screen.findChildren<QLabel*>()) {
        const QString prefix = label->objectName().left(4);
        if (prefix == QStringLiteral("lbl_") || prefix == QStringLiteral("OPR_")) {
            ApplyGroup(*label, settings.Label, *label_font);
        } else if (prefix == QStringLiteral("tit_")) {
            ApplyGroup(*label, settings.Title, *title_font);
        }
    }
    return true;
}

void SetFieldColor(QLineEdit& field, const std::string& mode, const AppearanceSettings& settings) {
    QPalette palette = field.palette();
    palette.setColor(QPalette::Base,
                     ColorFromNumber(mode == "2" ? settings.Text.BackColor : settings.TextFocusColor));
    field.setPalette(palette);
}

}  // namespace edi
