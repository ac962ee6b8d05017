#include <gtest/gtest.h>

#include <filesystem>

#include "support/TestSupport.h"
#include "transfer/JobSeams.h"

namespace edi {
namespace {

// The sample registration program reads what the stage writes and answers what the stage reads.
TEST(SampleRegistrationTest, CountsTheLocalFilesAndWritesTheStatusLine) {
    struct Case {
        const char* name;
        bool second_file;
        const char* status;
    };
    const Case cases[] = {
        {"both files", true,
         "10130PARTNER01   000005000005"
         "00\r\n"},
        {"second file missing", false,
         "10130PARTNER01   000003000000"
         "01\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        std::filesystem::create_directories(dir / "in");
        test::WriteFile(dir / "in" / "00000012_RCV_ABC_________0130.LOC", std::string_view("a\r\nb\r\nc\r\n"));
        if (c.second_file) {
            test::WriteFile(dir / "in" / "00000012_RCV_ABC_________0131.LOC", std::string_view("d\r\ne"));
        }
        const std::string status = (dir / "00000012_Z_IN_STATUS.TXT").string();
        test::WriteSjisFile(dir / "EDI00000012.INI",
                            "/[EDI]0130TXT='%EDI_IN%00000012_RCV_ABC_________0130.LOC'\r\n"
                            "/[EDI]0131TXT='%EDI_IN%00000012_RCV_ABC_________0131.LOC'\r\n"
                            "/[EDI]OPERATOR='担当01'\r\n/[EDI]STATUS_FILE='" +
                                status + "'\r\n/[EDI]MAKER='PARTNER01'\r\n");
        SpawnProcessStarter starter;
        ASSERT_TRUE(starter.RunAndWait("env EDI_IN=" + (dir / "in").string() + " " K500100_EDIREG " @" +
                                           (dir / "EDI00000012.INI").string(),
                                       ""));
        EXPECT_EQ(test::ReadText(status), c.status);
    }
}

}  // namespace
}  // namespace edi
