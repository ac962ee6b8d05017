#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>

#include "WindowFixture.h"
#include "monitor/Appearance.h"

namespace edi {
namespace {

// The screenshots' look, with flags written as numbers and in lower case.
AppearanceSettings Settings() {
    AppearanceSettings a = test::ScreenLook("14");
    a.Label.FontStrikethru = "0";
    a.Text.FontBold = "-1";
    a.Text.FontUnderline = "false";
    return a;
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
    EXPECT_EQ(opr->palette().color(QPalette::WindowText), QColor(0x30, 0x30, 0x30));
    EXPECT_EQ(title->palette().color(QPalette::Window), QColor(0x1F, 0x4A, 0x7A)) << "numbers are blue-green-red";
    EXPECT_DOUBLE_EQ(title->font().pointSizeF(), 14);
    EXPECT_EQ(plain->font(), plain_font) << "Label2 keeps its own look";
    EXPECT_TRUE(field->font().bold());
    EXPECT_FALSE(field->font().underline());
    EXPECT_EQ(screen.palette().color(QPalette::Window), QColor(0xDC, 0xE4, 0xE8));

    SetFieldColor(*field, "1", Settings());
    EXPECT_EQ(field->palette().color(QPalette::Base), QColor(0xFF, 0xFF, 0xCC)) << "focus colour 0xCCFFFF";
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
