// Damaged CII files end the conversion with a code or without one, never with a crash, a hang,
// a wrong line or memory that grows with the damage.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "CiiBenchMaster.h"
#include "ConvertFixtures.h"
#include "convert/CiiCheck.h"
#include "convert/CiiDump.h"
#include "convert/CiiToLocal.h"

namespace edi {
namespace {

using test::Cat;
using test::Hex;
using test::Raw;

class MalformedCiiTest : public test::ConverterTest {
protected:
    void SetUp() override {
        test::ConverterTest::SetUp();
        UseFields({{1, 0, 1, 1, "X", 3},
                   {2, 0, 20, 4, "M", 0, 0, "1", 3},
                   {3, 1, 21, 4, "M", 0, 0, "2", 2},
                   {4, 2, 2, 4, "9", 4},
                   {5, 2, 3, 8, "X", 2},
                   {6, 1, 4, 16, "K", 4},
                   {7, 0, 300, 61, "Y", 8},
                   {8, 0, 301, 69, "X", 250}});
    }
    // Lines of the CII bytes, with the failure code.
    std::pair<Bytes, std::string> Read(ByteView cii) { return Read(cii, masters); }
    std::pair<Bytes, std::string> Read(ByteView cii, FormatMasterSource& source) {
        log.ErrorCode.clear();
        MemorySink sink;
        CiiToLocalOptions options;
        options.sink = &sink;
        ChunkedInput input;
        input.Attach(cii);
        ReadCiiToLocal(input, dir / "local.txt", source, log, options);
        return {sink.data, log.ErrorCode};
    }
};

TEST_F(MalformedCiiTest, ATruncationAnywhereKeepsTheWholeLinesBeforeIt) {
    const std::string key = test::kFlatKey;
    const std::string long_text(240, 'L');
    const Bytes cii = CiiOf(key + "AB 00120x00340y東　0000000000339x0000  東京20240115" + long_text + "\r\n" + key +
                            "CD 0000  0000  　　0000  0000  　　0000  0000  　　20240116Z\r\n");
    ASSERT_EQ(cii.size(), 5u * 251);
    const auto [whole, whole_code] = Read(cii);
    ASSERT_EQ(whole_code, "");
    ASSERT_EQ(std::count(whole.begin(), whole.end(), '\n'), 2);
    for (std::size_t cut = 0; cut < cii.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const auto [lines, code] = Read(ByteView(cii).first(cut));
        EXPECT_TRUE(code.empty() || code == "0007") << code;
        ASSERT_LE(lines.size(), whole.size());
        EXPECT_TRUE(std::equal(lines.begin(), lines.end(), whole.begin()));
        EXPECT_TRUE(lines.empty() || lines.back() == '\n');
    }
}

TEST_F(MalformedCiiTest, LengthsPastTheEndAndHugeDeclaredLengths) {
    const Bytes header = Header(" ");
    struct Row {
        const char* name;
        Bytes record;
        bool padded;  // to its 251-byte block
        std::size_t lines;
        std::vector<std::string> log;
    };
    const Row rows[] = {
        {"element length past the end", Cat({Raw("9D00001"), Hex("00 0E 01 F2 FF FF 41 42")}), true, 0, {}},
        {"short prefix length past the end", Cat({Raw("9D00001"), Hex("FF FF 01 01 41")}), false, 0, {}},
        {"long prefix of 9999999 bytes",
         Cat({Raw("9D00001"), Hex("80 80 F7"), Raw("9999999"), Hex("01 01 41 FE")}),
         true,
         1,
         {"0012長さ違い"}},
        {"long prefix without digits",
         Cat({Raw("9D00001"), Hex("80 80 F7"), Raw("ABCDEFG"), Hex("01 01 41 FE")}),
         true,
         1,
         {"0012長さ違い"}},
        {"markers without groups",
         Cat({Raw("9D00001"), Hex("00 12 FC FB FC FA FA FA 01 01 41 FE")}),
         true,
         1,
         {"0010"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::filesystem::remove(log.file);
        Bytes record = r.record;
        if (r.padded) record.resize(251, ' ');
        const auto [lines, code] = Read(Cat({header, record}));
        EXPECT_EQ(code, "") << "nothing to stop for";
        EXPECT_EQ(static_cast<std::size_t>(std::count(lines.begin(), lines.end(), '\n')), r.lines);
        EXPECT_EQ(LogLines(), r.log);
    }
}

TEST_F(MalformedCiiTest, RandomBytesAfterAHeaderEndAndStayBounded) {
    std::mt19937 rng(20261205);
    const Bytes header = Header(" ");
    for (int round = 0; round < 300; ++round) {
        Bytes bytes = header;
        const std::size_t n = std::uniform_int_distribution<std::size_t>(0, 3000)(rng);
        for (std::size_t i = 0; i < n; ++i) {
            // Bias towards the bytes that mean something in a message.
            const int pick = std::uniform_int_distribution<int>(0, 9)(rng);
            bytes.push_back(
                pick < 3 ? static_cast<std::uint8_t>(0xF0 + pick * 5 + std::uniform_int_distribution<int>(0, 4)(rng))
                         : static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, 255)(rng)));
        }
        if (round % 2 == 0) bytes.insert(bytes.begin() + 251, {'9', 'D', '0', '0', '0', '0', '1', 0x10, 0x00});
        SCOPED_TRACE("round " + std::to_string(round));
        const auto [lines, code] = Read(bytes);
        const std::size_t ends = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), std::uint8_t{0xFE}));
        EXPECT_LE(lines.size(), ends * (39 + 318 + 65536 + 2));
    }
    std::filesystem::remove(log.file);
}

TEST_F(MalformedCiiTest, ReplaysTheFuzzTargetsSeedsThroughReaderDumpAndCheck) {
    bench::AnyKindMasters any_kind;
    const auto seeds = test::DataFiles("convert/fuzz");
    EXPECT_GE(seeds.size(), 3u);
    for (const auto& seed : seeds) {
        SCOPED_TRACE(seed.filename().string());
        const Bytes bytes = test::ReadFile(seed);
        const std::string code = Read(bytes, any_kind).second;
        EXPECT_TRUE(code.empty() || code == "0007" || code == "0015") << code;
        std::ostringstream listing;
        ChunkedInput again;
        again.Attach(bytes);
        const bool whole = DumpCii(again, &any_kind, listing);
        EXPECT_EQ(whole, listing.str().find("the file ends inside this record") == std::string::npos);
        // A record the listing finds cut short is a fault of the check too.
        ChunkedInput checked;
        checked.Attach(bytes);
        CiiCheckListener listener;
        bool cut = false;
        listener.fault = [&](const CiiFault& fault) {
            EXPECT_LE(fault.offset, bytes.size());
            cut = cut || (fault.check == CiiCheck::kRecords && fault.offset == bytes.size());
            return true;
        };
        CheckCii(checked, listener);
        if (!whole) {
            EXPECT_TRUE(cut);
        }
    }
}

}  // namespace
}  // namespace edi
