// The ediconv command end to end on an embedded database made by edidb.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "ConvertFixtures.h"

namespace edi {
namespace {

struct CommandRun {
    int status = -1;
    std::string out;
    std::string err;
};

CommandRun Command(const std::string& command, const std::filesystem::path& err_file) {
    CommandRun r;
    std::FILE* pipe = popen((command + " 2>" + err_file.string()).c_str(), "r");
    if (pipe == nullptr) return r;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.out.append(buffer, n);
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = test::ReadText(err_file);
    return r;
}

std::string Sql(const std::string& table, const DbRow& row) {
    std::string columns;
    std::string values;
    for (const auto& [column, value] : row) {
        if (!columns.empty()) {
            columns += ", ";
            values += ", ";
        }
        columns += column[0] >= '0' && column[0] <= '9' ? "\"" + column + "\"" : column;
        values += value ? "'" + *value + "'" : "NULL";
    }
    return "INSERT INTO " + table + " (" + columns + ") VALUES (" + values + ");\n";
}

class EdiconvTest : public test::ConverterTest {
protected:
    void SetUp() override {
        test::ConverterTest::SetUp();
        UseFlatMaster();
        const std::filesystem::path db = dir / "db";
        ASSERT_EQ(Command(std::string(K500100_EDIDB) + " init " + db.string(), dir / "e").status, 0);
        std::string script;
        for (const DbRow& r : masters.FormatRows) script += Sql("FL1902フォーマット情報マスタ", r);
        for (const DbRow& r : masters.ItemRows) script += Sql("FL1903レコードフォーマット情報マスタ", r);
        for (const DbRow& r : masters.GroupRows) script += Sql("FL1916メッセージグループ情報マスタ", r);
        test::WriteFile(dir / "masters.sql", script);
        ASSERT_EQ(Command(std::string(K500100_EDIDB) + " load " + db.string() + " " + (dir / "masters.sql").string(),
                          dir / "e")
                      .status,
                  0);
        WriteIni("K500100");
        setenv("ODBCINI", (db / "odbc.ini").c_str(), 1);
    }
    void WriteIni(const std::string& source) {
        test::WriteSjisFile(dir / "EDI.ini",
                            "[動作環境]\r\nMACHINENAME=T1\r\nUSERID=\r\nPASSWD=\r\nDBSTRING=" + source + "\r\n");
    }
    CommandRun Ediconv(const std::string& arguments) {
        return Command(std::string(K500100_EDICONV) + " " + arguments, dir / "stderr.txt");
    }
    std::string Path(const char* name) const { return (dir / name).string(); }
};

TEST_F(EdiconvTest, ConvertsBothWaysWithTheMastersOfTheDatabase) {
    const std::string local = kFlatKey + "AB   000120240115ＡＢ\r\n" + kFlatKey + "Z    000000000000　　\r\n";
    test::WriteSjisFile(dir / "in.txt", local);
    const std::string common = " --ini " + Path("EDI.ini") + " --serial 42 --log-dir " + dir.path().string() + " ";
    auto converts = [&](const std::string& command, const char* in, const char* out) {
        const CommandRun r = Ediconv(command + common + Path(in) + " " + Path(out));
        EXPECT_EQ(r.status, 0) << command << r.err;
        EXPECT_EQ(r.out, "0000\n") << command;
        EXPECT_EQ(r.err, "") << "no progress on a pipe";
    };
    converts("local2cii", "in.txt", "out.CII");
    EXPECT_EQ(test::ReadFile(dir / "out.CII").size(), 4u * 251);
    converts("cii2local", "out.CII", "back.txt");
    EXPECT_EQ(test::ReadFile(dir / "back0110.txt"), ToAnsiBytes(local));
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, 29), "0000--K800400 start--00000042");

    const CommandRun r = Ediconv("dump --ini " + Path("EDI.ini") + " " + Path("out.CII"));
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* part :
         {"@0 message-group header \"0C\"", "JPC10 BPID 1-4 @73: \"BP00\"", "@251 message 1, length 34",
          "tag 1 length 2: \"AB\"  [item1]", "tag 4 length 4: \"ＡＢ\"  [item4]", "FE end of message",
          "@753 message-group end \"0E\": message count \"00002\""}) {
        EXPECT_NE(r.out.find(part), std::string::npos) << part;
    }
}

TEST_F(EdiconvTest, ResultCodesAndCommandErrors) {
    test::WriteSjisFile(dir / "in.txt", test::LineKey("0999", "OWN1", "PTN1") + "Z\r\n");
    test::WriteFile(dir / "bad.CII", Cat({Header(" ", "0999"), End("00000")}));
    const std::string ini = " --ini " + Path("EDI.ini") + " --log-dir " + dir.path().string() + " ";
    struct Row {
        const char* name;
        std::string arguments;
        int status;
        std::string out;
    };
    const Row rows[] = {
        {"no group settings", "local2cii" + ini + Path("in.txt") + " " + Path("o.CII"), 1, "0001\n"},
        {"unknown option", "local2cii --fast" + ini + Path("in.txt") + " " + Path("o.CII"), 2, ""},
        {"missing input", "cii2local" + ini + Path("none.CII") + " " + Path("o.txt"), 2, ""},
        {"missing ini", "cii2local --ini " + Path("none.ini") + " " + Path("in.txt") + " " + Path("o.txt"), 2, ""},
        {"no ini", "cii2local " + Path("in.txt") + " " + Path("o.txt"), 2, ""},
        {"unknown command", "xml2local" + ini + Path("in.txt") + " " + Path("o.txt"), 2, ""},
        {"XML not well-formed", "xml2cii" + ini + Path("in.txt") + " " + Path("o.CII"), 1, "0032\n"},
        {"CII to XML, no format row", "cii2xml" + ini + Path("bad.CII") + " " + Path("o.xml"), 1, "0001\n"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const CommandRun run = Ediconv(r.arguments);
        EXPECT_EQ(run.status, r.status);
        EXPECT_EQ(run.out, r.out);
        if (r.status == 2) {
            EXPECT_EQ(run.err.rfind("ediconv: ", 0), 0u) << run.err;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << "one line";
        }
    }
    WriteIni("NOSUCHDSN");
    const CommandRun run = Ediconv("local2cii" + ini + Path("in.txt") + " " + Path("o.CII"));
    EXPECT_EQ(run.status, 2);
    // The driver manager's own reason is named.
    EXPECT_NE(run.err.find("cannot connect to the database (data source NOSUCHDSN"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Data source name not found"), std::string::npos) << run.err;
}

TEST_F(EdiconvTest, ChecksCiiFilesAndAnswersHelpAndVersion) {
    const Bytes sound = Cat({Header(" "), Data("00001", Hex("01 01 5A")), End("00001")});
    test::WriteFile(dir / "sound.CII", sound);
    test::WriteFile(dir / "cut.CII", ByteView(sound).first(400));
    struct Row {
        const char* name;
        std::string arguments;
        int status;
        std::vector<std::string> out;  // lines, in order
    };
    const Row rows[] = {
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
          "  damaged: first fault 5202 at byte 400"}},
        {"quiet and cut", "check -q " + Path("cut.CII"), 1, {}},
        {"a missing file", "check " + Path("sound.CII") + " " + Path("none.CII"), 2, {}},
        {"no file", "check -q", 2, {}},
        {"help",
         "cii2local --help",
         0,
         {"Usage: ediconv local2cii --ini EDI_INI [--serial N] [--log-dir DIR] LOCAL_FILE CII_FILE"}},
        {"version", "--version", 0, {"ediconv " K500100_VERSION}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const CommandRun run = Ediconv(r.arguments);
        EXPECT_EQ(run.status, r.status) << run.err;
        std::size_t at = 0;
        for (const std::string& line : r.out) {
            at = run.out.find(line + "\n", at);
            EXPECT_NE(at, std::string::npos) << line << "\nin:\n" << run.out;
        }
        if (r.out.empty()) {
            EXPECT_EQ(run.out, "");
        }
        EXPECT_EQ(run.err.empty(), r.status != 2) << run.err;
    }
}

}  // namespace
}  // namespace edi
