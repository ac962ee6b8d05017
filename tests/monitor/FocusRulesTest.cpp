#include "monitor/FocusRules.h"

#include <gtest/gtest.h>

namespace edi {
namespace {

TEST(FocusRulesTest, EnterSkipsALockedField) {
    const std::vector<FieldFocusState> fields = {{}, {true, true, true}, {}};
    EXPECT_EQ(NextFieldIndex(fields, 0, kKeyEnter, false), 2);
    EXPECT_EQ(NextFieldIndex(fields, 2, kKeyEnter, false), 0) << "wraps from the last field to the first";
    EXPECT_EQ(PreviousFieldIndex(fields, 0), 2);
    EXPECT_EQ(PreviousFieldIndex(fields, 2), 0);
}

TEST(FocusRulesTest, OtherKeysMoveOnlyFromAnEmptyOrSelectedField) {
    const std::vector<FieldFocusState> fields = {{}, {}};
    EXPECT_EQ(NextFieldIndex(fields, 0, 65, false), std::nullopt);
    EXPECT_EQ(NextFieldIndex(fields, 0, 65, true), 1);
    EXPECT_EQ(NextFieldIndex(fields, 0, kKeyDown, false), 1);
}

TEST(FocusRulesTest, StaysWhenNoOtherFieldQualifies) {
    const std::vector<FieldFocusState> fields = {{}, {false, true, false}, {true, false, false}};
    EXPECT_EQ(NextFieldIndex(fields, 0, kKeyEnter, false), std::nullopt);
    EXPECT_EQ(PreviousFieldIndex(fields, 0), std::nullopt);
    EXPECT_EQ(NextFieldIndex({{}}, 0, kKeyEnter, false), std::nullopt) << "a single field";
}

}  // namespace
}  // namespace edi
