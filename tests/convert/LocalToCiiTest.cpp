#include <gtest/gtest.h>

#include "ConvertFixtures.h"
#include "convert/LocalCiiConversion.h"
#include "convert/LocalToCii.h"

namespace edi {
namespace {

using test::Cat;
using test::Hex;
using test::kFlatKey;
using test::Raw;

class LocalToCiiTest : public test::ConverterTest {};

TEST_F(LocalToCiiTest, OneGroupPerKeyWithNumberedMessagesAndItsCount) {
    UseFlatMaster();
    const Bytes cii = CiiOf(kFlatKey + "AB   000120240115ＡＢ\r\n" + kFlatKey + "Z    000000000000　　\n\r\n");
    ASSERT_EQ(cii.size(), 4u * 251);
    const std::string header = test::Text(ByteView(cii).first(251));
    EXPECT_EQ(header.substr(0, 2) + header.substr(2 + 25, 12) + header.substr(2 + 61, 20) + header.substr(2 + 115, 12),
              "0COWN1        PTN1        BP000001261205160000");
    // 0 and "000000" write no element; full-width spaces are not trimmed.
    EXPECT_EQ(Bytes(cii.begin() + 251, cii.end()),
              Cat({Data("00001", Hex("01 02 41 42  02 03 31 32 30  03 08 32 30 32 34 30 31 31 35  04 04 82 60 82 61")),
                   Data("00002", Hex("01 01 5A  04 04 81 40 81 40")), End("00002")}));
    EXPECT_TRUE(log.ErrorCode.empty());
}

TEST_F(LocalToCiiTest, AnEmptyLocalFileWritesNothing) {
    UseFlatMaster();
    EXPECT_TRUE(CiiOf("").empty());
    EXPECT_TRUE(CiiOf("   \r\n\n  \n").empty());
    EXPECT_TRUE(log.ErrorCode.empty());
}

// One table per master shape: the element area each local record gives.
TEST_F(LocalToCiiTest, EncodesValuesTagsAndGroupsIntoTheElementArea) {
    using test::Field;
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
        {"date 00", flat, "     000000000101    ", "03 08 32 30 30 30 30 31 30 31"},
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
        {"nested, no Z", nested, "A           q ", "01 01 41  FA FA FC FB FA FC FC  FA 1F 01 71 FC"},
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

TEST_F(LocalToCiiTest, StopsWithTheCodeOfTheMissingOrUnencodableMaster) {
    using test::Field;
    const std::vector<Field> flat = test::FlatFields();
    const std::vector<Field> bad_group = {
        {1, 0, 300, 1, "X", 1}, {2, 0, 10, 2, "M", 0, 0, "AB", 1}, {3, 1, 11, 2, "X", 1}};
    const std::vector<Field> bad_tag = {{1, 0, 300, 1, "X", 1}, {2, 0, 61440, 2, "X", 1}};
    // The master, the rows it lacks ("G" group settings, "F" format, "L" local items) and the code.
    const std::tuple<std::vector<Field>, std::string, const char*> rows[] = {
        {flat, "G", "0001"},     {flat, "F", "0002"},   {{}, "", "0003"},
        {bad_group, "", "0005"}, {bad_tag, "", "0006"}, {flat, "L", "0004"}};
    test::WriteSjisFile(dir / "in.txt", kFlatKey + "ab\r\n");
    for (const auto& [fields, missing, code] : rows) {
        SCOPED_TRACE(code);
        UseFields(fields);
        if (missing == "G") masters.GroupRows.clear();
        if (missing == "F") masters.FormatRows.clear();
        DropItems(missing);
        ClearLog();
        EXPECT_EQ(RunLocalCiiConversion("C1", 12, "1", dir / "in.txt", dir / "out.CII", masters, log, clock), code);
        EXPECT_EQ(LogLines(), (std::vector<std::string>{"0000--K800400 start--00000012  2026/12/05 16:00:00", code}));
    }
}

TEST_F(LocalToCiiTest, TheEntryLogsItsStartLineAndRunsOnlyKnownKinds) {
    UseFlatMaster();
    test::WriteSjisFile(dir / "in.txt", kFlatKey + "Z\r\n");
    EXPECT_EQ(RunLocalCiiConversion("C1", 12, "3", dir / "in.txt", dir / "out.CII", masters, log, clock), "0000");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.CII"));
    EXPECT_EQ(LogLines(), std::vector<std::string>{"0000--K800400 start--00000012  2026/12/05 16:00:00"});
    log.ErrorCode = "0003";
    EXPECT_EQ(RunLocalCiiConversion("C1", 7, "1", dir / "in.txt", dir / "out.CII", masters, log, clock), "0000");
    EXPECT_EQ(test::ReadFile(dir / "out.CII").size(), 3u * 251);
}

TEST_F(LocalToCiiTest, AFailedWriteStopsWithTheGeneralCode) {
    UseFlatMaster();
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

}  // namespace
}  // namespace edi
