#include <gtest/gtest.h>

#include "monitor/EntryRules.h"
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

}  // namespace
}  // namespace edi
