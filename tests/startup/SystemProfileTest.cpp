#include "startup/SystemProfile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/TestSupport.h"

namespace edi {
namespace {

TEST(SystemProfileTest, NamesThisMachineAndUser) {
    const cProfile profile;
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(profile.machine(), host);
    EXPECT_FALSE(profile.User().empty());
    EXPECT_NE(profile.Domain(), "(none)") << "an unset domain reads as empty";
}

TEST(SystemProfileTest, ShowErrorFillsAnEmptyCaption) {
    const cProfile profile;
    test::RecordedMessageBoxes boxes;
    std::string caption;
    const MessageAnswer answer = profile.ShowError({5, "App", "Access denied"}, caption, boxes);
    EXPECT_EQ(answer, MessageAnswer::kOk);
    EXPECT_EQ(caption, "System Error Reported By App");
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, "Error Code 5\r\nAccess denied");
    EXPECT_EQ(boxes.shown()[0].icon, MessageIcon::kCritical);

    std::string given = "Mine";
    profile.ShowError({7, "App", "x"}, given, boxes);
    EXPECT_EQ(given, "Mine");
    EXPECT_EQ(boxes.shown()[1].caption, "Mine");
}

}  // namespace
}  // namespace edi
