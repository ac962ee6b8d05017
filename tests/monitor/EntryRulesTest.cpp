// The main window's rules without a window: the entry fields' keys, texts and checks, the
// focus moves between fields, and the marks of the center grid.
#include <gtest/gtest.h>

#include "monitor/CenterMarks.h"
#include "monitor/EntryRules.h"
#include "monitor/FocusRules.h"
#include "support/Masters.h"
#include "support/TestSupport.h"

namespace edi {
namespace {

const LocalDateTime kNow{2026, 12, 5, 14, 30, 12};

TEST(EntryRulesTest, FieldsLetThroughOnlyTheirCharacters) {
    for (const char32_t c : std::u32string(U"/09\b\r")) EXPECT_TRUE(FilterKey(kDateKind, c)) << int(c);
    for (const char32_t c : std::u32string(U"a-.: \x1b０")) EXPECT_FALSE(FilterKey(kDateKind, c)) << int(c);
    for (const char32_t c : std::u32string(U":5")) EXPECT_TRUE(FilterKey(kTimeKind, c)) << int(c);
    EXPECT_FALSE(FilterKey(kTimeKind, U'/'));
}

TEST(EntryRulesTest, NormalisesTypedDates) {
    struct Row {
        const char* typed;
        const char* shown;
    };
    const Row rows[] = {
        {"20021125", "2002/11/25"}, {"021125", "2002/11/25"},
        {"991125", "1999/11/25"},   {"291231", "2029/12/31"},
        {"301231", "1930/12/31"},   {"2002/1/5", "2002/01/05"},
        {"02/1/5", "2002/01/05"},   {"20021332", "20021332"},
        {"2002113", "2002113"},     {" 20021125 ", "2002/11/25"},
        {"2002/2/29", "2002/2/29"}, {"2004/2/29", "2004/02/29"},
        {"12/24", "2026/12/24"},    {"", ""},
    };
    for (const Row& r : rows) EXPECT_EQ(NormaliseDate(r.typed, 2026), r.shown) << r.typed;
}

TEST(EntryRulesTest, NormalisesTypedTimes) {
    // A text with a colon stays as typed; only four digits that make a time take one.
    const std::pair<const char*, const char*> rows[] = {
        {"1245", "12:45"}, {"9:5", "9:5"}, {"2460", "2460"}, {"930", "930"}};
    for (const auto& [typed, shown] : rows) EXPECT_EQ(NormaliseTime(typed), shown) << typed;
}

// A date alone is checked as the arming checks the date field; with a time, as it checks the time field.
TEST(EntryRulesTest, ChecksRefuseBadAndPastDatesAndTheCurrentMinuteOfToday) {
    struct Row {
        const char* sdate;
        const char* ktime;  // nullptr: the date's check
        int result;
        const char* message;
    };
    const Row rows[] = {
        {"", nullptr, 9, kBadDate},           {"  ", nullptr, 9, kBadDate},
        {"20021332", nullptr, 9, kBadDate},   {"2026/12/04", nullptr, 9, kPastDate},
        {"2026/12/05", nullptr, 0, nullptr},  {"2026/12/05", "", 9, kBadTime},
        {"2026/12/05", "25:00", 9, kBadTime}, {"2026/12/05", "14:30", 9, kPastTime},
        {"2026/12/05", "14:31", 0, nullptr},  {"2026/12/06", "00:00", 0, nullptr},
        {"2026/12/05", "9:5", 9, kPastTime},  {"2026/12/06", "9:5", 0, nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.sdate) + " " + (r.ktime ? r.ktime : "-"));
        test::RecordedMessageBoxes boxes;
        EXPECT_EQ(r.ktime ? CheckTime(r.sdate, r.ktime, kNow, boxes) : CheckDate(r.sdate, kNow, boxes), r.result);
        ASSERT_EQ(boxes.shown().size(), r.message ? 1u : 0u);
        if (r.message) {
            EXPECT_EQ(boxes.shown()[0].text, r.message);
            EXPECT_EQ(boxes.shown()[0].icon, MessageIcon::kExclamation);
            EXPECT_EQ(boxes.shown()[0].buttons, MessageButtons::kOk);
        }
    }
}

TEST(EntryRulesTest, TheScheduleMatchesOnlyTheExactTexts) {
    EXPECT_TRUE(ScheduleDue("2026/12/05", "14:30", kNow));
    EXPECT_FALSE(ScheduleDue("2026/12/05", "14:31", kNow));
    EXPECT_FALSE(ScheduleDue("2026/12/06", "14:30", kNow));
    EXPECT_FALSE(ScheduleDue("2026/12/05", "14:30 ", kNow));
    EXPECT_FALSE(ScheduleDue("2026/12/05", "9:5", LocalDateTime{2026, 12, 5, 9, 5, 0}))
        << "a one-digit hour never matches the clock's text";
    EXPECT_TRUE(ScheduleDue("2026/12/05", "09:05", LocalDateTime{2026, 12, 5, 9, 5, 59}));
}

TEST(FocusRulesTest, EnterSkipsFieldsThatCannotTakeTheFocusAndOtherKeysMoveOnlyFromAnEmptyOrSelectedField) {
    const std::vector<FieldFocusState> locked_middle = {{}, {true, true, true}, {}};
    EXPECT_EQ(NextFieldIndex(locked_middle, 0, kKeyEnter, false), 2);
    EXPECT_EQ(NextFieldIndex(locked_middle, 2, kKeyEnter, false), 0) << "wraps from the last field to the first";
    EXPECT_EQ(PreviousFieldIndex(locked_middle, 0), 2);
    EXPECT_EQ(PreviousFieldIndex(locked_middle, 2), 0);
    const std::vector<FieldFocusState> two = {{}, {}};
    EXPECT_EQ(NextFieldIndex(two, 0, 65, false), std::nullopt) << "a letter in a field with text stays";
    EXPECT_EQ(NextFieldIndex(two, 0, 65, true), 1);
    EXPECT_EQ(NextFieldIndex(two, 0, kKeyDown, false), 1);
    // A disabled and a hidden field: nowhere to go.
    const std::vector<FieldFocusState> alone = {{}, {false, true, false}, {true, false, false}};
    EXPECT_EQ(NextFieldIndex(alone, 0, kKeyEnter, false), std::nullopt);
    EXPECT_EQ(PreviousFieldIndex(alone, 0), std::nullopt);
    EXPECT_EQ(NextFieldIndex({{}}, 0, kKeyEnter, false), std::nullopt) << "a single field";
}

std::string Marks(const WorkArea& work) {
    std::string marks;
    for (const CenterEntry& c : work.Centers) marks += c.RunFlag ? 'o' : 'x';
    return marks;
}

TEST(CenterMarksTest, SpaceFlipsWaitingRowsDownwardOnly) {
    WorkArea work;
    test::AddTerminalCenters(work, {"C1", "C2", "C3", "C4"});
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
    WorkArea work;
    test::AddTerminalCenters(work, {"C1", "C2", "C3", "C4"});
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
