#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "transfer/FileNaming.h"

namespace edi {
namespace {

TEST(FileNamingTest, SerialPartPadsToEightDigits) {
    const std::pair<std::int64_t, const char*> rows[] = {
        {12, "00000012"},           {0, "00000000"},    {99999999, "99999999"}, {123456789, "123456789"},
        {2147483647, "2147483647"}, {-12, "-00000012"},
    };
    for (const auto& [serial, part] : rows) EXPECT_EQ(SerialPart(serial), part);
}

TEST(FileNamingTest, CenterPartIsTwelveCharactersWithUnderscores) {
    const std::pair<const char*, const char*> rows[] = {
        {"ABC", "ABC_________"},
        {"", "____________"},
        {"A B", "A_B_________"},
        {" AB ", "_AB_________"},
        {"ABCDEFGHIJ K", "ABCDEFGHIJ_K"},      // exactly 12: used as it stands
        {"ABCDEFGHIJKLMN", "ABCDEFGHIJKLMN"},  // longer: kept whole, never cut
        {"ABCDEFGHIJKL M", "ABCDEFGHIJKL_M"},
        {"ＡＢ", "ＡＢ__________"},  // characters are counted, not bytes
    };
    for (const auto& [code, part] : rows) EXPECT_EQ(FileCenterCode(code), part);
}

TEST(FileNamingTest, DataKindTakesBothWidthsAndCases) {
    const std::pair<const char*, const char*> rows[] = {
        {"C", "CII"}, {"c", "CII"},   {"Ｃ", "CII"}, {"ｃ", "CII"},  {"  C ", "CII"}, {" ｃ", "CII"},
        {"X", "XML"}, {"x", "XML"},   {"Ｘ", "XML"}, {"ｘ", "XML"},  {"X  ", "XML"},  {"E", "Err"},
        {"", "Err"},  {"   ", "Err"}, {"CX", "Err"}, {"CII", "Err"}, {"　C", "Err"},  {"Ｅ", "Err"},
    };
    for (const auto& [letter, kind] : rows) EXPECT_EQ(DataKindOf(letter), kind) << "[" << letter << "]";
}

TEST(FileNamingTest, TransferNamesJoinSerialMarkerCenterAndKind) {
    EXPECT_EQ(ReceivedFileName(12, "ABC", "CII"), "00000012_RCV_ABC_________.CII");
    EXPECT_EQ(ReceivedFileName(7, "CENTER 01", "XML"), "00000007_RCV_CENTER_01___.XML");
    EXPECT_EQ(SendFileName(12, "ABC", "CII"), "00000012_SND_ABC_________.CII");
    EXPECT_EQ(SendFileName(123456789, "ABCDEFGHIJKL", "XML"), "123456789_SND_ABCDEFGHIJKL.XML");
}

TEST(FileNamingTest, FolderAndNameGetOneSeparator) {
    const std::pair<const char*, const char*> rows[] = {
        {"/edi/in/", "/edi/in/f.CII"}, {"/edi/in", "/edi/in/f.CII"}, {"", "f.CII"}, {"/", "/f.CII"}};
    for (const auto& [folder, path] : rows) EXPECT_EQ(PathInFolder(folder, "f.CII"), path);
}

}  // namespace
}  // namespace edi
