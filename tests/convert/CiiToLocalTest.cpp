#include <gtest/gtest.h>

#include "ConvertFixtures.h"
#include "convert/CiiToLocal.h"

namespace edi {
namespace {

using test::Cat;
using test::Hex;
using test::kFlatKey;
using test::Raw;

class CiiToLocalTest : public test::ConverterTest {
protected:
    // Converts the bytes and returns the local file of kind 0110 ("" when it was not written).
    std::string Convert(ByteView cii) {
        test::WriteFile(dir / "in.CII", cii);
        ReadCiiToLocal(dir / "in.CII", dir / "local.txt", masters, log);
        return std::filesystem::exists(dir / "local0110.txt") ? test::ReadText(dir / "local0110.txt") : "";
    }
    static std::string Line(std::string_view record) { return kFlatKey + test::Text(ToAnsiBytes(record)) + "\r\n"; }
};

const Bytes kFlatArea = Hex("01 02 41 42  02 03 31 32 30  03 08 32 30 32 34 30 31 31 35  04 04 82 60 82 61");

TEST_F(CiiToLocalTest, HeaderAndEndOnlyCreatesAnEmptyFileAndAppendsToAnExistingOne) {
    UseFlatMaster();
    EXPECT_EQ(Convert(Cat({Header(" "), End("00000")})), "");
    EXPECT_TRUE(std::filesystem::exists(dir / "local0110.txt"));
    test::WriteFile(dir / "local0110.txt", std::string_view("old\r\n"));
    EXPECT_EQ(Convert(Cat({Header(" "), Data("00001", Hex("01 01 5A")), End("00001")})),
              "old\r\n" + Line("Z    000000000000　　"));
    EXPECT_TRUE(log.ErrorCode.empty());
}

TEST_F(CiiToLocalTest, InsertsTheInformationKindBeforeTheFirstDot) {
    const std::pair<const char*, const char*> rows[] = {{"/data/recv/local.txt", "/data/recv/local0110.txt"},
                                                        {"/data/recv.d/local.txt", "/data/recv0110.d/local.txt"},
                                                        {"/data/recv/local", "/data/recv/local0110"}};
    for (const auto& [template_path, expected] : rows)
        EXPECT_EQ(LocalPathFor(template_path, "0110").string(), expected);
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
    UseFlatMaster();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ClearLog();
        std::filesystem::remove(dir / "local0110.txt");
        EXPECT_EQ(Convert(Cat({Header(" "), r.after_header})), r.local);
        EXPECT_EQ(LogLines(), r.log);
        EXPECT_EQ(log.ErrorCode, r.error_code);
    }
}

TEST_F(CiiToLocalTest, MissingMastersStopWithTheirCodes) {
    // Kind 0999 has no format row; the flat master without its message items, without its local items.
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"0999", "", "0001"}, {"0110", "E", "0003"}, {"0110", "L", "0004"}};
    for (const auto& [kind, side, code] : rows) {
        SCOPED_TRACE(code);
        masters = MemoryMasters();
        UseFlatMaster();
        DropItems(side);
        ClearLog();
        Convert(Cat({Header(" ", kind), Data("00001", Hex("01 01 5A")), End("00001")}));
        EXPECT_EQ(log.ErrorCode, code);
        EXPECT_EQ(LogLines(), std::vector<std::string>{code});
    }
}

}  // namespace
}  // namespace edi
