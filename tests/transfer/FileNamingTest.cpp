#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "transfer/FileNaming.h"

namespace edi {
namespace {

TEST(FileNamingTest, SerialPartPadsToEightDigits) {
    struct Row {
        std::int64_t serial;
        const char* part;
    };
    const Row rows[] = {
        {12, "00000012"},           {0, "00000000"},    {99999999, "99999999"}, {123456789, "123456789"},
        {2147483647, "2147483647"}, {-12, "-00000012"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.serial);
        EXPECT_EQ(SerialPart(row.serial), row.part);
    }
}

TEST(FileNamingTest, CenterPartIsTwelveCharactersWithUnderscores) {
    struct Row {
        const char* code;
        const char* part;
    };
    const Row rows[] = {
        {"ABC", "ABC_________"},
        {"", "____________"},
        {"A B", "A_B_________"},
        {" AB ", "_AB_________"},
        {"ABCDEFGHIJ K", "ABCDEFGHIJ_K"},      // exactly 12: used as it stands
        {"ABCDEFGHIJKLMN", "ABCDEFGHIJKLMN"},  // longer: kept whole, never cut
        {"ABCDEFGHIJKL M", "ABCDEFGHIJKL_M"},
        {"ＡＢ", "ＡＢ__________"},  // characters are counted, not bytes
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        EXPECT_EQ(FileCenterCode(row.code), row.part);
    }
}

TEST(FileNamingTest, DataKindTakesBothWidthsAndCases) {
    struct Row {
        const char* letter;
        const char* kind;
    };
    const Row rows[] = {
        {"C", "CII"}, {"c", "CII"},   {"Ｃ", "CII"}, {"ｃ", "CII"},  {"  C ", "CII"}, {" ｃ", "CII"},
        {"X", "XML"}, {"x", "XML"},   {"Ｘ", "XML"}, {"ｘ", "XML"},  {"X  ", "XML"},  {"E", "Err"},
        {"", "Err"},  {"   ", "Err"}, {"CX", "Err"}, {"CII", "Err"}, {"　C", "Err"},  {"Ｅ", "Err"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("[") + row.letter + "]");
        EXPECT_EQ(DataKindOf(row.letter), row.kind);
    }
}

TEST(FileNamingTest, TransferNamesJoinSerialMarkerCenterAndKind) {
    EXPECT_EQ(ReceivedFileName(12, "ABC", "CII"), "00000012_RCV_ABC_________.CII");
    EXPECT_EQ(ReceivedFileName(7, "CENTER 01", "XML"), "00000007_RCV_CENTER_01___.XML");
    EXPECT_EQ(SendFileName(12, "ABC", "CII"), "00000012_SND_ABC_________.CII");
    EXPECT_EQ(SendFileName(123456789, "ABCDEFGHIJKL", "XML"), "123456789_SND_ABCDEFGHIJKL.XML");
}

TEST(FileNamingTest, FolderAndNameGetOneSeparator) {
    struct Row {
        const char* folder;
        const char* path;
    };
    const Row rows[] = {
        {"/edi/in/", "/edi/in/f.CII"},
        {"/edi/in", "/edi/in/f.CII"},
        {"", "f.CII"},
        {"/", "/f.CII"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.folder);
        EXPECT_EQ(PathInFolder(row.folder, "f.CII"), row.path);
    }
}

}  // namespace
}  // namespace edi
