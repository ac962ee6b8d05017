// Local records to CII and back: groups per line key, values by attribute, the codes of missing
// masters and faults. Local lines written to CII and read back give the same lines, and the CII
// written again from them is the same file, for masters with nested groups, empty occurrences,
// two-byte tags, long elements and every storage mode.
#include <gtest/gtest.h>

#include "ConvertFixtures.h"
#include "convert/CiiToLocal.h"
#include "convert/LocalCiiConversion.h"
#include "convert/LocalToCii.h"

namespace edi {
namespace {

class LocalToCiiTest : public test::ConverterTest {};

// The first record of the flat master's tests: AB, 120, 20240115 and ＡＢ.
const Bytes kFlatArea = Hex("01 02 41 42  02 03 31 32 30  03 08 32 30 32 34 30 31 31 35  04 04 82 60 82 61");

TEST_F(LocalToCiiTest, OneGroupPerKeyWithNumberedMessagesAndItsCount) {
    UseFields();
    EXPECT_TRUE(CiiOf("").empty()) << "an empty local file writes nothing";
    EXPECT_TRUE(CiiOf("   \r\n\n  \n").empty()) << "nor one of blank lines";
    const Bytes cii = CiiOf(kFlatKey + "AB   000120240115ＡＢ\r\n" + kFlatKey + "Z    000000000000　　\n\r\n");
    ASSERT_EQ(cii.size(), 4u * 251);
    const std::string header = Text(ByteView(cii).first(251));
    EXPECT_EQ(header.substr(0, 2) + header.substr(2 + 25, 12) + header.substr(2 + 61, 20) + header.substr(2 + 115, 12),
              "0COWN1        PTN1        BP000001261205160000");
    // 0 and "000000" write no element; full-width spaces are not trimmed.
    EXPECT_EQ(Bytes(cii.begin() + 251, cii.end()),
              Cat({Data("00001", kFlatArea), Data("00002", Hex("01 01 5A  04 04 81 40 81 40")), End("00002")}));
    EXPECT_TRUE(log.ErrorCode.empty());
}

// One table per master shape: the element area each local record gives.
TEST_F(LocalToCiiTest, EncodesValuesTagsAndGroupsIntoTheElementArea) {
    const std::vector<Field> flat = test::FlatFields();
    const std::vector<Field> numbers = {
        {1, 0, 1, 1, "9", 7, 2}, {2, 0, 2, 9, "N", 4, 0, "0", 0, 3}, {3, 0, 3, 13, "9", 4, 1}};
    const std::vector<Field> tags = {
        {1, 0, 239, 1, "X", 1}, {2, 0, 300, 2, "X", 1}, {3, 0, 5, 3, "X", 1}, {4, 0, 70000, 4, "X", 1}};
    const std::vector<Field> groups = {{1, 0, 1, 1, "X", 2},
                                       {2, 0, 10, 3, "M", 0, 0, "1", 3},
                                       {3, 1, 11, 3, "X", 2},
                                       {4, 1, 12, 5, "X", 1},
                                       {5, 0, 2, 12, "X", 1}};
    const std::vector<Field> nested = {{1, 0, 1, 1, "X", 1},
                                       {2, 0, 20, 2, "M", 0, 0, "1", 2},
                                       {3, 1, 21, 2, "M", 0, 0, "2", 2},
                                       {4, 2, 22, 2, "X", 2},
                                       {5, 1, 23, 6, "X", 1},
                                       {6, 0, 2, 12, "X", 1},
                                       {7, 0, 30, 13, "M", 0, 0, "3", 2},
                                       {8, 1, 31, 13, "X", 1}};
    auto empty_group = [](int first_tag, const char* multi) {
        return std::vector<Field>{
            {1, 0, first_tag, 1, "X", 1}, {2, 0, 10, 2, "M", 0, 0, multi, 2}, {3, 1, 11, 2, "X", 1}};
    };
    struct Row {
        const char* name;
        std::vector<Field> fields;
        std::string record;
        const char* area;
        std::vector<std::string> log = {};
    };
    const Row rows[] = {
        // Six-digit dates get their century; "000000" writes no element.
        {"date 51", flat, "     000000510101    ", "03 08 31 39 35 31 30 31 30 31"},
        {"date 50", flat, "     000000500101    ", "03 08 32 30 35 30 30 31 30 31"},
        {"date 000000", flat, "     000000000000    ", ""},
        // 00123.45 -> 12345; 1234 keeps its right three digits (logged); -01.5 -> -15.
        {"numbers move their decimals",
         numbers,
         "00123.451234-01.5",
         "01 05 31 32 33 34 35  02 03 32 33 34  03 03 2D 31 35",
         {"0022項目№=2 1234"}},
        {"zero numbers write nothing", numbers, "00000.000000000.0", ""},
        {"two-byte tags from the first item numbered from 240", tags, "abcd",
         "EF 01 61  F0 01 2C 01 62  00 05 01 63  F1 11 70 01 64"},
        {"the switch is written when item 300 has no value", tags, "a c ", "EF 01 61  F0 00 05 01 63"},
        // Empty occurrences wait for a later one with data; trailing ones are dropped.
        {"occurrences 1 and 3", groups, "AAB1x   B3yZ",
         "01 02 41 41  FA 0B 02 42 31 0C 01 78 FB FB 0B 02 42 33 0C 01 79 FC  02 01 5A"},
        {"occurrence 1", groups, "AAB1x      Z", "01 02 41 41  FA 0B 02 42 31 0C 01 78 FC  02 01 5A"},
        {"occurrence 2", groups, "AA   B2x   Z", "01 02 41 41  FA FB 0B 02 42 32 0C 01 78 FC  02 01 5A"},
        {"a group without data: its marker and 0xFC", groups, "AA         Z", "01 02 41 41  FA FC  02 01 5A"},
        // Every marker stands where the walk reaches its group: the inner group's marker is written
        // in every outer occurrence, so the outer occurrences are ended by 0xFB before the next marker.
        {"nested, inner data", nested, "A     c1  eZ q",
         "01 01 41  FA FA FC FB FA 16 02 63 31 FC 17 01 65 FC  02 01 5A  FA FB 1F 01 71 FC"},
        {"nested, empty outer", nested, "A          Zq ", "01 01 41  FA FA FC FB FA FC FC  02 01 5A  FA 1F 01 71 FC"},
        {"nested, last group empty", nested, "A          Z  ", "01 01 41  FA FA FC FB FA FC FC  02 01 5A  FA FC"},
        // An empty group is its marker and end in every tag mode.
        {"empty group 1, one-byte tags", empty_group(1, "1"), "a  ", "01 01 61  FA FC"},
        {"empty group 1, two-byte tags", empty_group(300, "1"), "a  ", "F0 01 2C 01 61  F0 FA 31 FC"},
        {"empty group A", empty_group(300, "A"), "a  ", "F0 01 2C 01 61  FA 41 FC"},
        {"empty group 0", empty_group(300, "0"), "a  ", "F0 01 2C 01 61  FA 30 FC"},
        {"empty group 12", empty_group(300, "12"), "a  ", "F0 01 2C 01 61  F0 FD 00 0C FC"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        UseFields(r.fields);
        ClearLog();
        EXPECT_EQ(Areas(CiiOf(kFlatKey + r.record + "\r\n")), std::vector<Bytes>{Hex(r.area)});
        EXPECT_EQ(LogLines(), r.log);
        EXPECT_TRUE(log.ErrorCode.empty());
    }
}

// The entry logs its start line, runs only known kinds ("1" local to CII, "2" back, "3" is none)
// and forgets the code of an earlier conversion; it stops with the code of a missing or
// unencodable master, writing no message.
TEST_F(LocalToCiiTest, TheEntryStopsWithTheCodeOfTheMissingOrUnencodableMaster) {
    const std::vector<Field> flat = test::FlatFields();
    const std::vector<Field> bad_group = {
        {1, 0, 300, 1, "X", 1}, {2, 0, 10, 2, "M", 0, 0, "AB", 1}, {3, 1, 11, 2, "X", 1}};
    const std::vector<Field> bad_tag = {{1, 0, 300, 1, "X", 1}, {2, 0, 61440, 2, "X", 1}};
    // The master, the rows it lacks ("G" group settings, "F" format, "E"/"L" items), the kind, the code.
    const std::tuple<std::vector<Field>, std::string, const char*, std::string> rows[] = {
        {flat, "G", "1", "0001"},   {flat, "F", "1", "0002"}, {{}, "", "1", "0003"},   {bad_group, "", "1", "0005"},
        {bad_tag, "", "1", "0006"}, {flat, "L", "1", "0004"}, {flat, "", "3", "0000"}, {flat, "", "1", "0000"},
        {flat, "F", "2", "0001"},   {flat, "E", "2", "0003"}, {flat, "L", "2", "0004"}};
    test::WriteSjisFile(dir / "in.txt", kFlatKey + "ab\r\n");
    test::WriteFile(dir / "in.CII", Cat({Header(" "), Data("00001", Hex("01 01 5A")), End("00001")}));
    for (const auto& [fields, missing, kind, code] : rows) {
        SCOPED_TRACE(code + " " + kind);
        UseFields(fields);
        if (missing == "G") masters.GroupRows.clear();
        if (missing == "F") masters.FormatRows.clear();
        DropItems(missing);
        ClearLog();
        log.ErrorCode = "0003";
        std::filesystem::remove(dir / "out.CII");
        const auto in = dir / (kind[0] == '2' ? "in.CII" : "in.txt");
        EXPECT_EQ(RunLocalCiiConversion("C1", 12, kind, in, dir / "out.CII", masters, log, clock), code);
        std::vector<std::string> lines{"0000--K800400 start--00000012  2026/12/05 16:00:00"};
        if (code != "0000") lines.push_back(code);
        EXPECT_EQ(LogLines(), lines);
        const Bytes cii = std::filesystem::exists(dir / "out.CII") ? test::ReadFile(dir / "out.CII") : Bytes();
        EXPECT_EQ(Areas(cii).size(), code == "0000" && kind[0] == '1' ? 1u : 0u) << "messages written";
    }
}

TEST_F(LocalToCiiTest, AFailedWriteStopsWithTheGeneralCode) {
    UseFields();
    test::WriteSjisFile(dir / "in.txt", kFlatKey + "Z\r\n" + kFlatKey + "Y\r\n");
    for (const std::size_t budget : {0u, 251u, 300u, 502u, 753u}) {
        SCOPED_TRACE(budget);
        log.ErrorCode.clear();
        test::FailingSink sink(budget);
        LocalToCiiOptions options;
        options.sink = &sink;
        WriteCiiFromLocal(dir / "in.txt", dir / "out.CII", masters, log, clock, options);
        EXPECT_EQ(log.ErrorCode, "9999");
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "out.CII"));
}

class CiiToLocalTest : public test::ConverterTest {
protected:
    // Converts the bytes and returns the local file of kind 0110 ("" when it was not written).
    std::string Convert(ByteView cii) {
        test::WriteFile(dir / "in.CII", cii);
        ReadCiiToLocal(dir / "in.CII", dir / "local.txt", masters, log);
        return std::filesystem::exists(dir / "local0110.txt") ? test::ReadText(dir / "local0110.txt") : "";
    }
    static std::string Line(std::string_view record) { return kFlatKey + Text(ToAnsiBytes(record)) + "\r\n"; }
};

// The local file is named by the kind, inserted before the first dot of the template's name; a
// group without messages creates it empty, later groups append to it.
TEST_F(CiiToLocalTest, TheLocalFileIsNamedByKindCreatedEmptyAndAppendedTo) {
    const std::pair<const char*, const char*> rows[] = {{"/data/recv/local.txt", "/data/recv/local0110.txt"},
                                                        {"/data/recv.d/local.txt", "/data/recv0110.d/local.txt"},
                                                        {"/data/recv/local", "/data/recv/local0110"}};
    for (const auto& [template_path, expected] : rows)
        EXPECT_EQ(LocalPathFor(template_path, "0110").string(), expected);
    UseFields();
    EXPECT_EQ(Convert(Cat({Header(" "), End("00000")})), "");
    EXPECT_TRUE(std::filesystem::exists(dir / "local0110.txt"));
    test::WriteFile(dir / "local0110.txt", std::string_view("old\r\n"));
    EXPECT_EQ(Convert(Cat({Header(" "), Data("00001", Hex("01 01 5A")), End("00001")})),
              "old\r\n" + Line("Z    000000000000　　"));
    EXPECT_TRUE(log.ErrorCode.empty());
}

TEST_F(CiiToLocalTest, LogsEveryWarningAndFailureCode) {
    struct Row {
        const char* name;
        Bytes after_header;
        std::vector<std::string> log;
        std::string error_code;
        std::string local;
    };
    const std::string z = Line("Z    000000000000　　");
    Bytes sixty_unknown_tags;
    for (int i = 0; i < 60; ++i) sixty_unknown_tags.insert(sixty_unknown_tags.end(), {0x07, 0x01, 0x41});
    const Bytes whole = Data("00002", kFlatArea, false);
    Bytes long_count = Data("00001", Hex("01 01 5A"));
    long_count[8] += 1;  // one byte more than the element area holds
    const Row rows[] = {
        {"one line per message with key and edited values",
         Cat({Data("00001", kFlatArea), Data("00002", Hex("01 01 5A")), End("00002")}),
         {},
         "",
         Line("AB   000120240115ＡＢ") + z},
        {"a file ending inside a message drops it without a code",
         Cat({Data("00001", Hex("01 01 5A")), ByteView(whole).first(20)}),
         {},
         "",
         z},
        {"unknown tags leave the template with one warning each",
         Cat({Data("00001", Hex("07 01 41 08 02 41 42 63 01 41")), End("00001")}),
         {"0010", "0010", "0010"},
         "",
         Line("     000000000000　　")},
        {"a length counter that does not end at zero", Cat({long_count, End("00001")}), {"0012長さ違い"}, "", z},
        {"digit without D", Cat({Raw("1X"), Data("00001", Hex("01 01 5A")), End("00001")}), {"0008-01"}, "", z},
        {"unknown kind", Cat({Raw("AB"), Data("00001", Hex("01 01 5A")), End("00001")}), {"0008-02"}, "", z},
        {"bad length byte", Cat({Data("00001", Hex("01 01 5A 02 F5")), End("00001")}), {"0009", "0015"}, "0015", ""},
        {"0xFD in one-byte mode", Cat({Data("00001", Hex("FD 01 01 5A")), End("00001")}), {"0011"}, "", z},
        {"meaningless bytes", Cat({Data("00001", Hex("F1 FF 01 01 5A")), End("00001")}), {"0013", "0013"}, "", z},
        {"empty element", Cat({Data("00001", Hex("01 00")), End("00001")}), {"0015"}, "0015", ""},
        {"end record cut", Raw("0E0000"), {"0007"}, "0007", ""},
        {"prefix cut", Raw("9D000"), {"0007"}, "0007", ""},
        {"padding cut", Cat({Raw("9D00001"), Hex("00 0C 01 01 5A FE"), Raw("   ")}), {"0007"}, "0007", z},
        // 50 lines per warning code and file, then how many more were left out.
        {"sixty unknown tags", Data("00001", sixty_unknown_tags),
         test::Repeated("0010", 50, {"0010--10 more left out--"}), "", Line("     000000000000　　")},
        // Not CII: 16002 unknown record kinds (32004 bytes) and the reader gives the file up.
        {"zero bytes", Bytes(40000, 0), test::NotCiiLog("0008-02", 251), "0017", ""},
        {"a record now and then", Cat({Bytes(31998, ' '), Data("00001", Hex("01 01 5A")), Bytes(32000, ' ')}),
         test::Repeated("0008-02", 50, {"0008--31949 more left out--"}), "", z},
    };
    UseFields();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ClearLog();
        std::filesystem::remove(dir / "local0110.txt");
        EXPECT_EQ(Convert(Cat({Header(" "), r.after_header})), r.local);
        EXPECT_EQ(LogLines(), r.log);
        EXPECT_EQ(log.ErrorCode, r.error_code);
    }
}

TEST_F(LocalToCiiTest, RoundTripsThroughCiiGivingTheSameLines) {
    struct Row {
        const char* name;
        const std::vector<bench::Field>* fields;
        std::string mode;
        int lines;
        std::string code16 = "M";  // double-byte values in the message: Shift-JIS, JIS pairs, UTF-16
    };
    const Row rows[] = {{"nested, mode ' '", &bench::kNested, " ", 60},
                        {"nested, mode M", &bench::kNested, "M", 60},
                        {"nested, mode S", &bench::kNested, "S", 60},
                        {"two-byte, mode ' '", &bench::kTwoByte, " ", 60},
                        {"two-byte, mode S, JIS", &bench::kTwoByte, "S", 60, "S"},
                        {"two-byte, mode M, UTF-16", &bench::kTwoByte, "M", 60, "U"},
                        {"long, mode ' '", &bench::kLong, " ", 6},
                        {"long, mode S", &bench::kLong, "S", 6}};
    unsigned seed = 1;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        masters = MemoryMasters();
        bench::AddMasters(masters, *r.fields, r.mode, r.code16, "M");
        const std::string local = bench::LineMaker(seed++, false).Lines(*r.fields, r.lines);
        const auto run = [&](std::string_view kind, const char* in, const char* out) {
            return RunLocalCiiConversion("C1", 1, kind, dir / in, dir / out, masters, log, clock);
        };
        for (const char* name : {"out.CII", "back0110.txt", "again.CII"}) std::filesystem::remove(dir / name);
        test::WriteFile(dir / "in.txt", local);
        ASSERT_EQ(run("1", "in.txt", "out.CII"), "0000");
        ASSERT_EQ(run("2", "out.CII", "back.txt"), "0000");
        EXPECT_TRUE(test::ReadText(dir / "back0110.txt") == local);
        ASSERT_EQ(run("1", "back0110.txt", "again.CII"), "0000");
        EXPECT_TRUE(test::ReadFile(dir / "again.CII") == test::ReadFile(dir / "out.CII"));
        EXPECT_EQ(LogLines().size(), 3u * static_cast<std::size_t>(seed - 1)) << "start lines only";
    }
}

}  // namespace
}  // namespace edi
