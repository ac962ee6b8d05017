#include <gtest/gtest.h>

#include "monitor/CenterMarks.h"

namespace edi {
namespace {

WorkArea FourRows() {
    WorkArea work;
    for (const char* code : {"C1", "C2", "C3", "C4"}) {
        CenterEntry entry;
        entry.CenterCode = code;
        work.Centers.push_back(entry);
    }
    return work;
}

std::string Marks(const WorkArea& work) {
    std::string marks;
    for (const CenterEntry& c : work.Centers) marks += c.RunFlag ? 'o' : 'x';
    return marks;
}

TEST(CenterMarksTest, SpaceFlipsWaitingRowsDownwardOnly) {
    WorkArea work = FourRows();
    work.Centers[2].RowState = 2;
    EXPECT_EQ(ToggleMarksBySpace(work, 1, 3), (std::vector<int>{1, 3})) << "row 2 has run and keeps its mark";
    EXPECT_EQ(Marks(work), "oxox");
    EXPECT_TRUE(ToggleMarksBySpace(work, 3, 1).empty()) << "a selection made upwards flips nothing";
    EXPECT_EQ(Marks(work), "oxox");
    work.Centers[0].RowState = 9;
    EXPECT_TRUE(ToggleMarksBySpace(work, 0, 0).empty()) << "a failed row keeps its mark";
    work.RunState = 2;
    EXPECT_TRUE(ToggleMarksBySpace(work, 1, 1).empty()) << "nothing changes while armed";
    EXPECT_EQ(Marks(work), "oxox");
}

TEST(CenterMarksTest, ASecondClickOnTheMarkFlipsOnlyAWaitingRowOfAnIdleWindow) {
    WorkArea work = FourRows();
    work.SelectedRow = 1;
    EXPECT_FALSE(ToggleMarkByClick(work, 2, 1)) << "first click on row 2 only selects it";
    EXPECT_EQ(work.SelectedRow, 2);
    EXPECT_TRUE(ToggleMarkByClick(work, 2, 1)) << "second click on its mark (column 1 current)";
    EXPECT_FALSE(ToggleMarkByClick(work, 2, 2)) << "a click on the name cell";
    work.Centers[0].RowState = 2;
    ToggleMarkByClick(work, 0, 1);
    EXPECT_FALSE(ToggleMarkByClick(work, 0, 1)) << "a row that ran";
    work.RunState = 1;
    ToggleMarkByClick(work, 1, 1);
    EXPECT_FALSE(ToggleMarkByClick(work, 1, 1)) << "busy";
    EXPECT_EQ(work.SelectedRow, 1) << "the clicked row is still selected";
    EXPECT_EQ(Marks(work), "ooxo");
}

}  // namespace
}  // namespace edi
