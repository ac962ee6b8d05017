// The ediconv command end to end on an embedded database made by edidb with the demo's masters.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <regex>

#include "CiiBenchMaster.h"
#include "ConvertFixtures.h"

namespace edi {
namespace {

struct CommandRun {
    int status = -1;
    std::string out;
    std::string err;
};

class EdiconvTest : public test::ConverterTest {
protected:
    void SetUp() override {
        test::ConverterTest::SetUp();
        const std::string db = (dir / "db").string();
        ASSERT_EQ(Command(std::string(K500100_EDIDB) + " init " + db).status, 0);
        ASSERT_EQ(Command(std::string(K500100_EDIDB) + " load " + db + " " + K500100_DEMO_MASTERS).status, 0);
        WriteIni("K500100");
        setenv("ODBCINI", (dir / "db" / "odbc.ini").c_str(), 1);
    }
    void WriteIni(const std::string& source) {
        test::WriteSjisFile(dir / "EDI.ini",
                            "[動作環境]\r\nMACHINENAME=T1\r\nUSERID=\r\nPASSWD=\r\nDBSTRING=" + source + "\r\n");
    }
    // The command's exit status and what it wrote to its standard output and error.
    CommandRun Command(const std::string& command) {
        const int status = std::system((command + " >" + Path("stdout.txt") + " 2>" + Path("stderr.txt")).c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::ReadText(dir / "stdout.txt"),
                test::ReadText(dir / "stderr.txt")};
    }
    CommandRun Ediconv(const std::string& arguments) { return Command(std::string(K500100_EDICONV) + " " + arguments); }
    std::string Path(const char* name) const { return (dir / name).string(); }
};

TEST_F(EdiconvTest, ConvertsBothWaysWithTheMastersOfTheDatabase) {
    bench::BenchLineMaker maker(1);
    const std::string local = maker.Line() + maker.Line();
    test::WriteFile(dir / "in.txt", local);
    const std::string common = " --ini " + Path("EDI.ini") + " --serial 42 --log-dir " + dir.path().string() + " ";
    auto converts = [&](const std::string& command, const char* in, const char* out) {
        const CommandRun r = Ediconv(command + common + Path(in) + " " + Path(out));
        EXPECT_EQ(r.status, 0) << command << r.err;
        EXPECT_EQ(r.out, "0000\n") << command;
        EXPECT_EQ(r.err, "") << "no progress where the error output is no terminal";
    };
    converts("local2cii", "in.txt", "out.CII");
    converts("cii2local", "out.CII", "back.txt");
    // Read back, a line's key names the sender (here the partner) before the receiver.
    const std::string back =
        std::regex_replace(local, std::regex("OWNCO0001   PARTNER01   "), "PARTNER01   OWNCO0001   ");
    EXPECT_TRUE(test::ReadText(dir / "back0130.txt") == back);
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, 29), "0000--K800400 start--00000042");

    const CommandRun r = Ediconv("dump --ini " + Path("EDI.ini") + " " + Path("out.CII"));
    EXPECT_EQ(r.status, 0) << r.err;
    const Bytes cii = test::ReadFile(dir / "out.CII");  // the first message's length in its prefix
    EXPECT_NE(r.out.find("@251 message 1, length " + std::to_string(cii[258] * 256 + cii[259])), std::string::npos);
    // The order's name is five 東 and five full-width spaces.
    for (const char* part : {"@0 message-group header \"0C\"", "JPC10 BPID 1-4 @73: \"ORD0\"", "  [発注者コード]",
                             "tag 5 length 20: \"東東東東東　　　　　\"  [発注者名]", "FE end of message",
                             "message-group end \"0E\": message count \"00002\""}) {
        EXPECT_NE(r.out.find(part), std::string::npos) << part;
    }
}

// Result codes, command errors (status 2 and one line on the error output), the check of CII
// files, help and version.
TEST_F(EdiconvTest, ResultCodesCommandErrorsChecksHelpAndVersion) {
    test::WriteSjisFile(dir / "in.txt", std::string(kFlatKey).replace(5, 4, "0999") + "Z\r\n");
    test::WriteFile(dir / "bad.CII", Cat({Header(" ", "0999"), End("00000")}));
    const Bytes sound = Cat({Header(" "), Data("00001", Hex("01 01 5A")), End("00001")});
    test::WriteFile(dir / "sound.CII", sound);
    test::WriteFile(dir / "cut.CII", ByteView(sound).first(400));
    const std::string ini = " --ini " + Path("EDI.ini") + " --log-dir " + dir.path().string() + " ";
    struct Row {
        const char* name;
        std::string arguments;
        int status;
        std::vector<std::string> out;  // lines, in order
        bool whole = true;             // the output is these lines and no more
    };
    const Row rows[] = {
        {"no group settings", "local2cii" + ini + Path("in.txt") + " " + Path("o.CII"), 1, {"0001"}},
        {"unknown option", "local2cii --fast" + ini + Path("in.txt") + " " + Path("o.CII"), 2, {}},
        {"missing input", "cii2local" + ini + Path("none.CII") + " " + Path("o.txt"), 2, {}},
        {"missing ini", "cii2local --ini " + Path("none.ini") + " " + Path("in.txt") + " " + Path("o.txt"), 2, {}},
        {"no ini", "cii2local " + Path("in.txt") + " " + Path("o.txt"), 2, {}},
        {"unknown command", "xml2local" + ini + Path("in.txt") + " " + Path("o.txt"), 2, {}},
        {"XML not well-formed", "xml2cii" + ini + Path("in.txt") + " " + Path("o.CII"), 1, {"0032"}},
        {"CII to XML, no format row", "cii2xml" + ini + Path("bad.CII") + " " + Path("o.xml"), 1, {"0001"}},
        {"sound",
         "check " + Path("sound.CII"),
         0,
         {Path("sound.CII"),
          "  group 1 at byte 0: kind 0110, BPID BP000001, 運用モード \" \", storage mode \" \", 1 messages read, the "
          "end record counts 1",
          "  sound: 1 groups, 1 messages (0 test)"}},
        {"one file cut",
         "check " + Path("sound.CII") + " " + Path("cut.CII"),
         1,
         {"  group 1 at byte 0: kind 0110, BPID BP000001, 運用モード \" \", storage mode \" \", 0 messages read, no "
          "count",
          "    5202 byte 400: the file ends inside the padding of the last block",
          "  damaged: first fault 5202 at byte 400"},
         false},
        {"quiet and cut", "check -q " + Path("cut.CII"), 1, {}},
        {"a missing file", "check " + Path("sound.CII") + " " + Path("none.CII"), 2, {}},
        {"no file", "check -q", 2, {}},
        {"help",
         "cii2local --help",
         0,
         {"Usage: ediconv local2cii --ini EDI_INI [--serial N] [--log-dir DIR] LOCAL_FILE CII_FILE"},
         false},
        {"version", "--version", 0, {"ediconv " K500100_VERSION}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const CommandRun run = Ediconv(r.arguments);
        EXPECT_EQ(run.status, r.status) << run.err;
        std::string all;
        std::size_t at = 0;
        for (const std::string& line : r.out) {
            all += line + "\n";
            at = run.out.find(line + "\n", at);
            EXPECT_NE(at, std::string::npos) << line << "\nin:\n" << run.out;
        }
        if (r.whole) {
            EXPECT_EQ(run.out, all);
        }
        if (r.status == 2) {
            EXPECT_EQ(run.err.rfind("ediconv: ", 0), 0u) << run.err;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << "one line";
        } else {
            EXPECT_EQ(run.err, "");
        }
    }
    WriteIni("NOSUCHDSN");
    const CommandRun run = Ediconv("local2cii" + ini + Path("in.txt") + " " + Path("o.CII"));
    EXPECT_EQ(run.status, 2);
    // The driver manager's own reason is named.
    EXPECT_NE(run.err.find("cannot connect to the database (data source NOSUCHDSN"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Data source name not found"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace edi
