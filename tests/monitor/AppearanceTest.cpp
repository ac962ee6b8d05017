#include "monitor/Appearance.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>

namespace edi {
namespace {

LookGroup Group(const char* bold, const char* size = "10") {
    LookGroup g;
    g.FontBold = bold;
    g.FontItalic = "False";
    g.FontStrikethru = "0";
    g.FontUnderline = "false";
    g.FontSize = size;
    g.BackColor = 0xFFFFFF;
    g.ForeColor = 0x0000FF;
    return g;
}

AppearanceSettings Settings() {
    AppearanceSettings a;
    a.FormBackColor = "&HC0C0C0";
    a.Label = Group("False");
    a.Text = Group("True", "12");
    a.Title = Group("False", "14");
    a.Title.BackColor = 0x800000;
    a.TextFocusColor = 0x00FFFF;
    return a;
}

TEST(AppearanceTest, ColourNumbersAreBlueGreenRed) {
    EXPECT_EQ(ColorFromNumber(255), QColor(255, 0, 0));
    EXPECT_EQ(ColorFromNumber(0xFF0000), QColor(0, 0, 255));
    EXPECT_EQ(ColorFromNumber(0x008000), QColor(0, 128, 0));
}

TEST(AppearanceTest, ControlsTakeTheLookOfTheirNamePrefix) {
    QWidget screen;
    auto* opr = new QLabel(&screen);
    opr->setObjectName(QStringLiteral("OPR_NAME"));
    auto* title = new QLabel(&screen);
    title->setObjectName(QStringLiteral("tit_MAIN"));
    auto* plain = new QLabel(&screen);
    plain->setObjectName(QStringLiteral("Label2"));
    const QFont plain_font = plain->font();
    auto* field = new QLineEdit(&screen);

    ASSERT_TRUE(ApplyAppearance(screen, Settings()));
    EXPECT_EQ(opr->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(title->palette().color(QPalette::Window), QColor(0, 0, 128)) << "title background 0x800000";
    EXPECT_DOUBLE_EQ(title->font().pointSizeF(), 14);
    EXPECT_EQ(plain->font(), plain_font) << "Label2 keeps its own look";
    EXPECT_TRUE(field->font().bold());
    EXPECT_EQ(screen.palette().color(QPalette::Window), QColor(0xC0, 0xC0, 0xC0));

    SetFieldColor(*field, "1", Settings());
    EXPECT_EQ(field->palette().color(QPalette::Base), QColor(255, 255, 0)) << "focus colour 0x00FFFF";
    SetFieldColor(*field, "2", Settings());
    EXPECT_EQ(field->palette().color(QPalette::Base), QColor(255, 255, 255));
}

TEST(AppearanceTest, ABadSettingFailsTheWholeApplication) {
    struct Row {
        const char* name;
        void (*spoil)(AppearanceSettings&);
    };
    const Row rows[] = {
        {"bold flag abc", [](AppearanceSettings& a) { a.Text.FontBold = "abc"; }},
        {"size not a number", [](AppearanceSettings& a) { a.Label.FontSize = "large"; }},
        {"unknown font", [](AppearanceSettings& a) { a.Title.FontName = "No Such Font 123"; }},
        {"form colour not a number", [](AppearanceSettings& a) { a.FormBackColor = "grey"; }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        AppearanceSettings a = Settings();
        r.spoil(a);
        QWidget screen;
        EXPECT_FALSE(ApplyAppearance(screen, a));
    }
}

}  // namespace
}  // namespace edi
