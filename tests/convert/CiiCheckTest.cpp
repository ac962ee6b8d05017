// The integrity check over a file of three groups, one per storage mode, as the writer cuts
// messages into blocks: every cut at a block boundary or inside an end record, and each kind of
// damage, is found with its code and the offset of its first byte.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <tuple>

#include "ConvertFixtures.h"
#include "convert/CiiCheck.h"

namespace edi {
namespace {

using test::Cat;
using test::Raw;

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
    EXPECT_EQ(found.totals.groups, 3);
    EXPECT_EQ(found.totals.messages, 5);
    EXPECT_EQ(found.totals.test_messages, 1);
    EXPECT_EQ(found.totals.bytes, sound.size());
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
    struct Row {
        const char* name;
        std::vector<CiiCheck> warnings;
        std::vector<std::string> lines;
    };
    const Row rows[] = {
        {"strict", {}, {"5203group 1 (0110) message 2, byte 753: block 2 begins with \"3\" where \"2\" belongs"}},
        {"blocks warn",
         {CiiCheck::kBlocks},
         {"5203group 1 (0110) message 2, byte 753: block 2 begins with \"3\" where \"2\" belongs (a warning: "
          "WarnBlocks=1)",
          "5205group 2 (0110), byte 2261: the end record counts 2 messages; 1 were read"}},
        {"both warn",
         {CiiCheck::kBlocks, CiiCheck::kCount},
         {"5203group 1 (0110) message 2, byte 753: block 2 begins with \"3\" where \"2\" belongs (a warning: "
          "WarnBlocks=1)",
          "5205group 2 (0110), byte 2261: the end record counts 2 messages; 1 were read (a warning: WarnCount=1)"}},
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

}  // namespace
}  // namespace edi
