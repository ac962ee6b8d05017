#include "monitor/ProgressWindow.h"

#include <gtest/gtest.h>

#include <QListWidget>

namespace edi {
namespace {

TEST(ProgressWindowTest, ListsTheLinesOfOneTransfer) {
    ProgressWindow window;
    ProgressView& view = window;
    view.Clear();
    view.Show();
    view.AddLine("ログオン");
    view.AddLine("受信中");
    EXPECT_TRUE(window.isVisible());
    ASSERT_EQ(window.List()->count(), 2);
    EXPECT_EQ(window.List()->item(1)->text(), QString::fromUtf8("受信中"));
    EXPECT_EQ(window.List()->objectName(), QStringLiteral("Lst_Hyoji"));
    view.Close();
    EXPECT_FALSE(window.isVisible());
    view.Clear();
    EXPECT_EQ(window.List()->count(), 0);
}

}  // namespace
}  // namespace edi
