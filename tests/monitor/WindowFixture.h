// What the window suites share: the look of the screenshots, the centers of the grid, the
// grid's cells and a screenshot written to the build tree.
#pragma once

#include <gtest/gtest.h>

#include <QTableWidget>
#include <filesystem>
#include <memory>

#include "monitor/Appearance.h"
#include "monitor/MonitorWindow.h"

namespace edi::test {

// The look of the screenshots, with the titles' font size given.
inline AppearanceSettings ScreenLook(const char* title_size = "10") {
    AppearanceSettings look;
    look.FormBackColor = "&HE8E4DC";
    look.Label = LookGroup{0xE8E4DC, 0x303030, "Noto Sans CJK JP", "10", "False", "False", "False", "False"};
    look.Title = LookGroup{0x7A4A1F, 0xFFFFFF, "Noto Sans CJK JP", title_size, "True", "False", "False", "False"};
    look.Text = LookGroup{0xFFFFFF, 0x000000, "Noto Sans Mono CJK JP", "11", "False", "False", "False", "False"};
    look.TextFocusColor = 0xCCFFFF;
    return look;
}

// A work area with the centers' rows ("センター <code>") and the status colours of the screenshots.
inline void AddCenters(WorkArea& work, std::initializer_list<const char*> codes, const char* method = "Z") {
    for (const char* code : codes) {
        CenterEntry& entry = work.Centers.emplace_back();
        entry.CenterCode = code;
        entry.CenterName = std::string("センター ") + code;
        entry.Method = method;
    }
    work.Colors = {0x000000, 0x0000FF, 0x008000, 0xFF0000};
}

// The main window as start-up leaves it, in the look of the screenshots: fields cleared, today's
// labels, the grid filled, shown.
inline std::unique_ptr<MonitorWindow> OpenWindow(WorkArea& work, MessageBoxes& boxes, Clock& clock) {
    auto window = std::make_unique<MonitorWindow>(work, boxes, clock);
    EXPECT_TRUE(ApplyAppearance(*window, work.Appearance = ScreenLook()));
    window->LayoutControls();
    window->ClearScreenFields();
    window->PrepareLabels("2026/12/05");
    window->FillCenterGrid([](const std::string& m) { return m == "Z" ? std::string("リンク") : std::string(); });
    window->show();
    QApplication::setActiveWindow(window.get());
    return window;
}

inline QString Cell(const QWidget& window, int row, int column) {
    return window.findChild<QTableWidget*>(QStringLiteral("GRID"))->item(row, column)->text();
}

// Saves what the widget shows under the build tree's screenshots/, for the README and for review.
inline void Shot(QWidget& widget, const char* name) {
    const std::filesystem::path path = std::filesystem::path(K500100_SCREENSHOT_DIR) / name;
    std::filesystem::create_directories(path.parent_path());
    EXPECT_TRUE(widget.grab().save(QString::fromStdString(path.string())));
    EXPECT_GT(std::filesystem::file_size(path), 1000u) << name;
}

}  // namespace edi::test
