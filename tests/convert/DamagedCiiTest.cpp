// Damaged CII files. The integrity check over a file of three groups, one per storage mode, as
// the writer cuts messages into blocks: every cut at a block boundary or inside an end record, and
// each kind of damage, is found with its code and the offset of its first byte. The conversion
// ends with a code or without one, never with a crash, a hang, a wrong line or memory that grows
// with the damage.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <tuple>

#include "CiiBenchMaster.h"
#include "ConvertFixtures.h"
#include "convert/CiiCheck.h"
#include "convert/CiiDump.h"
#include "convert/CiiToLocal.h"

namespace edi {
namespace {

// Group 1, mode " ": a one-block message at 251, a three-block one at 502 (blocks at 753 and
// 1004, end byte at 1113, end record at 1255). Group 2, mode "M", test data (運用モード "1"):
// header at 1506, a two-block message at 1757 (block at 2008), end record at 2259. Group 3,
// mode "S": header at 2510, a 50-byte message at 2761, a three-block one at 2811 (blocks at
// 34812 and 66813), end record at 72831. 73082 bytes.
class CiiCheckTest : public test::ConverterTest {
protected:
    // A data record of the given element-area size, cut into the storage blocks of the mode.
    static Bytes Message(const char* number, std::size_t area, std::uint8_t mode) {
        MemorySink sink;
        EXPECT_EQ(WriteStorageBlocks(sink, Data(number, Bytes(area, 'a'), false), mode), StoreResult::kWritten);
        return sink.data;
    }
    static Bytes SoundFile() {
        Bytes test_header = Header("M");
        test_header[2 + cii_header::k運用モード] = '1';
        return Cat({Header(" "), Message("00001", 20, ' '), Message("00002", 600, ' '), End("00002"), test_header,
                    Message("00001", 300, 'M'), End("00001"), Header("S"), Message("00001", 40, 'S'),
                    Message("00002", 70000, 'S'), End("00002")});
    }
    const Bytes sound = SoundFile();
};

struct Found {
    std::string code;  // "" when the file is sound
    std::uint64_t offset = 0;
    std::vector<CiiGroupCheck> groups;
    CiiCheckTotals totals;
};

Found Check(const test::TempDir& dir, ByteView bytes) {
    test::WriteFile(dir / "in.CII", bytes);
    ChunkedInput input;
    std::string error;
    EXPECT_TRUE(input.Open(dir / "in.CII", error)) << error;
    Found found;
    CiiCheckListener listener;
    listener.fault = [&found](const CiiFault& fault) {
        if (found.code.empty()) {
            found.code = FormatCode(CiiCheckCode(fault.check));
            found.offset = fault.offset;
        }
        return true;
    };
    listener.group = [&found](const CiiGroupCheck& group) { found.groups.push_back(group); };
    found.totals = CheckCii(input, listener);
    return found;
}

TEST_F(CiiCheckTest, ASoundFileReportsItsGroups) {
    ASSERT_EQ(sound.size(), 73082u);
    const Found found = Check(dir, sound);
    EXPECT_EQ(found.code, "");
    // Per group: offset, storage mode, test data, messages read, the end record's count.
    using Group = std::tuple<std::uint64_t, std::uint8_t, bool, std::int64_t, std::optional<std::int64_t>>;
    std::vector<Group> groups;
    for (const CiiGroupCheck& g : found.groups) {
        EXPECT_EQ(g.info_kind + " " + g.bpid, "0110 BP000001");
        groups.emplace_back(g.offset, g.storage_mode, g.IsTest(), g.messages, g.end_count);
    }
    EXPECT_EQ(groups, (std::vector<Group>{{0, ' ', false, 2, 2}, {1506, 'M', true, 1, 1}, {2510, 'S', false, 2, 2}}));
    // Groups, messages, test messages, bytes.
    EXPECT_EQ(
        std::make_tuple(found.totals.groups, found.totals.messages, found.totals.test_messages, found.totals.bytes),
        std::make_tuple(3, 5, 1, sound.size()));
    // Ten blocks: the continuation digits run 1 to 8, then 1 again.
    EXPECT_EQ(Check(dir, Cat({Header("M"), Message("00001", 2400, 'M'), End("00001")})).code, "");
}

TEST_F(CiiCheckTest, EveryCutAtABlockBoundaryOrInsideAnEndRecordIsFound) {
    struct Row {
        std::size_t cut;
        const char* code;
        std::uint64_t offset;
    };
    const Row rows[] = {
        {0, "5201", 0},          // no group at all
        {251, "5201", 251},      // group 1: header only
        {502, "5201", 502},      // after its first message
        {753, "5202", 753},      // inside the three-block message
        {1255, "5201", 1255},    // before its end record
        {1256, "5202", 1256},    // inside the record kind of the end record
        {1400, "5202", 1400},    // inside the end record
        {1757, "5201", 1757},    // group 2: header only
        {2008, "5202", 2008},    // inside its two-block message
        {2761, "5201", 2761},    // group 3: header only
        {2811, "5201", 2811},    // after the one-block message of mode "S"
        {34812, "5202", 34812},  // at the S message's block boundaries
        {72831, "5201", 72831},  //
        {73081, "5202", 73081},  // one byte short
        // A cut between two groups leaves a file of whole groups: nothing in it can tell.
        {1506, "", 0},
        {2510, "", 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.cut);
        const Found found = Check(dir, ByteView(sound).first(r.cut));
        EXPECT_EQ(found.code, r.code);
        EXPECT_EQ(found.offset, r.offset);
    }
}

TEST_F(CiiCheckTest, EachKindOfDamageIsFoundAtItsFirstByte) {
    struct Row {
        const char* name;
        std::function<void(Bytes&)> damage;
        const char* code;
        std::uint64_t offset;
    };
    const Row rows[] = {
        {"a wrong count", [](Bytes& b) { b[2261 + 4] = '2'; }, "5205", 2261},
        {"a count that is no number", [](Bytes& b) { b[2261] = 'x'; }, "5205", 2261},
        {"a gap in the numbering", [](Bytes& b) { b[502 + 6] = '3'; }, "5204", 504},
        {"a wrong continuation digit", [](Bytes& b) { b[753] = '3'; }, "5203", 753},
        {"a last block that is not the digit 9", [](Bytes& b) { b[66813] = '3'; }, "5203", 66813},
        {"a one-block message claiming more", [](Bytes& b) { b[2761] = '1'; }, "5203", 2761},
        {"padding that is not spaces", [](Bytes& b) { b[1200] = 0; }, "5203", 1200},
        {"no end byte where the length ends", [](Bytes& b) { b[1113] = 'x'; }, "5202", 1113},
        {"an unknown record kind", [](Bytes& b) { b[251] = 'Z'; }, "5201", 251},
        {"a header inside an open group", [](Bytes& b) { b.erase(b.begin() + 1255, b.begin() + 1506); }, "5201", 1255},
        {"a data record before any header", [](Bytes& b) { b.erase(b.begin(), b.begin() + 251); }, "5201", 0},
        {"bytes after the last end record", [](Bytes& b) { b.insert(b.end(), {' ', 'X', 'Y'}); }, "5206", 73083},
        {"padding after the last end record", [](Bytes& b) { b.insert(b.end(), {' ', 0, '\r', '\n', 0x1A}); }, "", 0},
        {"bytes between two groups", [](Bytes& b) { b.insert(b.begin() + 1506, {'\r', '\n'}); }, "5206", 1506 + 2},
        {"a file that is no CII", [](Bytes& b) { b.assign(40000, 'x'); }, "5201", 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Bytes bytes = sound;
        r.damage(bytes);
        const Found found = Check(dir, bytes);
        EXPECT_EQ(found.code, r.code);
        EXPECT_EQ(found.offset, r.offset);
    }
}

TEST_F(CiiCheckTest, AJobFailsOnItsFirstFaultUnlessTheSiteTurnsTheCheckIntoAWarning) {
    Bytes damaged = sound;
    damaged[2261 + 4] = '2';  // group 2 counts 2 messages
    damaged[753] = '3';       // and group 1 carries a wrong continuation digit before it
    test::WriteFile(dir / "in.CII", damaged);
    const std::string blocks = "5203group 1 (0110) message 2, byte 753: block 2 begins with \"3\" where \"2\" belongs";
    const std::string count = "5205group 2 (0110), byte 2261: the end record counts 2 messages; 1 were read";
    struct Row {
        const char* name;
        std::vector<CiiCheck> warnings;
        std::vector<std::string> lines;
    };
    const Row rows[] = {
        {"strict", {}, {blocks}},
        {"blocks warn", {CiiCheck::kBlocks}, {blocks + " (a warning: WarnBlocks=1)", count}},
        {"both warn",
         {CiiCheck::kBlocks, CiiCheck::kCount},
         {blocks + " (a warning: WarnBlocks=1)", count + " (a warning: WarnCount=1)"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        log.file = dir / (std::string(r.name) + ".LOG");
        CiiCheckPolicy policy;
        for (const CiiCheck c : r.warnings) policy.warn[static_cast<std::size_t>(c)] = true;
        const CiiCheckOutcome outcome = CheckReceivedCii(dir / "in.CII", 12, policy, log, clock);
        EXPECT_EQ(outcome.Sound(), r.warnings.size() == 2);
        const std::vector<std::string> lines = LogLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front(), "0000--K800410 start--00000012  2026/12/05 16:00:00");
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), r.lines);
    }
}

class MalformedCiiTest : public test::ConverterTest {
protected:
    void SetUp() override {
        test::ConverterTest::SetUp();
        fields.push_back({14, 0, 301, 91, "X", 500});  // a two-byte tag; records of 590 bytes
        UseFields(fields);
    }
    // Lines of the CII bytes, with the failure code.
    std::pair<Bytes, std::string> Read(ByteView cii, FormatMasterSource* source = nullptr) {
        log.ErrorCode.clear();
        MemorySink sink;
        CiiToLocalOptions options;
        options.sink = &sink;
        ChunkedInput input;
        input.Attach(cii);
        ReadCiiToLocal(input, dir / "local.txt", source != nullptr ? *source : masters, log, options);
        return {sink.data, log.ErrorCode};
    }
    std::vector<Field> fields = bench::kNested;
};

TEST_F(MalformedCiiTest, ATruncationAnywhereKeepsTheWholeLinesBeforeIt) {
    const Bytes cii = CiiOf(ToUnicodeText(bench::LineMaker(3, false).Lines(fields, 2)));
    ASSERT_GE(cii.size(), 5u * 251) << "a message over two blocks";
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
        Bytes after_number;  // of the data record "9D00001"
        bool padded;         // to its 251-byte block
        std::size_t lines;
        std::string log;  // its one line, if any
    };
    const Row rows[] = {
        {"element length past the end", Hex("00 0E 01 F2 FF FF 41 42"), true, 0, ""},
        {"short prefix length past the end", Hex("FF FF 01 01 41"), false, 0, ""},
        {"long prefix of 9999999", Cat({Hex("80 80 F7"), Raw("9999999"), Hex("01 01 41 FE")}), true, 1, "0012長さ違い"},
        {"long prefix, no digits", Cat({Hex("80 80 F7"), Raw("ABCDEFG"), Hex("01 01 41 FE")}), true, 1, "0012長さ違い"},
        {"markers without groups", Hex("00 12 FC FB FC FA FA FA 01 01 41 FE"), true, 1, "0010"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::filesystem::remove(log.file);
        Bytes record = Cat({Raw("9D00001"), r.after_number});
        if (r.padded) record.resize(251, ' ');
        const auto [lines, code] = Read(Cat({header, record}));
        EXPECT_EQ(code, "") << "nothing to stop for";
        EXPECT_EQ(static_cast<std::size_t>(std::count(lines.begin(), lines.end(), '\n')), r.lines);
        EXPECT_EQ(LogLines(), r.log.empty() ? std::vector<std::string>{} : std::vector<std::string>{r.log});
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
        EXPECT_LE(lines.size(), ends * (39 + 590 + 65536 + 2));
    }
}

TEST_F(MalformedCiiTest, ReplaysTheFuzzTargetsSeedsThroughReaderDumpAndCheck) {
    bench::AnyKindMasters any_kind;
    const auto seeds = test::DataFiles("convert/fuzz");
    EXPECT_GE(seeds.size(), 3u);
    for (const auto& seed : seeds) {
        SCOPED_TRACE(seed.filename().string());
        const Bytes bytes = test::ReadFile(seed);
        const std::string code = Read(bytes, &any_kind).second;
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
        EXPECT_TRUE(whole || cut) << "the listing found a record cut short";
    }
}

}  // namespace
}  // namespace edi
