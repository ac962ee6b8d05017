#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "transfer/MailInbox.h"

namespace edi {
namespace {

namespace fs = std::filesystem;

TEST(MailInboxTest, MaildirUnreadMailsAreKnownByTheirNamesAndMarkedReadByRenaming) {
    test::TempDir dir;
    const fs::path box = dir / "Maildir";
    const auto inbox = OpenMaildirInbox(box);  // makes new, cur and tmp
    test::WriteFile(box / "new" / "300.c.host", std::string_view("From: c\r\n\r\nthird"));
    test::WriteFile(box / "cur" / "100.a.host:2,S", std::string_view("read"));
    test::WriteFile(box / "cur" / "200.b.host,S=9:2,F", std::string_view("From: b\r\n\r\nsecond"));
    test::WriteFile(box / "cur" / "50.d.host", std::string_view("From: d\r\n\r\nfirst"));
    test::WriteFile(box / "cur" / ".50.e.host", std::string_view("hidden"));
    test::WriteFile(box / "tmp" / "10.f.host", std::string_view("being delivered"));

    const std::vector<std::string> unread = inbox->ListUnread();
    EXPECT_EQ(unread, (std::vector<std::string>{"50.d.host", "200.b.host,S=9:2,F", "300.c.host"}));
    EXPECT_EQ(inbox->ReadStart("200.b.host,S=9:2,F", 7), "From: b");
    std::string all;
    inbox->ReadAll("300.c.host", [&](const char* data, std::size_t size) { all.append(data, size); });
    EXPECT_EQ(all, "From: c\r\n\r\nthird");

    for (const std::string& id : unread) inbox->MarkRead(id);
    EXPECT_TRUE(fs::exists(box / "cur" / "50.d.host:2,S"));
    EXPECT_TRUE(fs::exists(box / "cur" / "200.b.host,S=9:2,FS"));
    EXPECT_TRUE(fs::exists(box / "cur" / "300.c.host:2,S"));
    EXPECT_TRUE(fs::is_empty(box / "new"));
    EXPECT_TRUE(inbox->ListUnread().empty());
    EXPECT_THROW(inbox->MarkRead("300.c.host"), std::system_error);  // gone from new
}

}  // namespace
}  // namespace edi
