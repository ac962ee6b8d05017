#include <gtest/gtest.h>

#include "ConvertFixtures.h"
#include "convert/CiiReader.h"

namespace edi {
namespace {

using test::Hex;

TEST(CiiReaderTest, StoredBytesDropTheContinuationDigitOfEachBlock) {
    // Mode " ": 250 data bytes per block after its leading byte.
    Bytes file;
    for (int block = 0; block < 3; ++block) {
        file.push_back(static_cast<std::uint8_t>('1' + block));
        for (int i = 0; i < 250; ++i) file.push_back(static_cast<std::uint8_t>((block * 250 + i) % 251));
    }
    for (const std::size_t piece : {1u, 2u, 7u, 249u, 250u, 251u, 600u}) {
        SCOPED_TRACE(piece);
        ChunkedInput in;
        in.Attach(file);
        std::uint8_t skip;
        ASSERT_TRUE(in.Get(skip));  // the first block's leading byte
        CiiStoredReader reader(in);
        reader.SetStorageMode(' ');
        reader.SetBlockCounter(250);
        Bytes data;
        Bytes part(piece);
        std::size_t total = 0;
        while (total + piece <= 750) {
            ASSERT_TRUE(reader.ReadStoredBytes(part.data(), piece));
            data.insert(data.end(), part.begin(), part.end());
            total += piece;
        }
        for (std::uint8_t b; total < 750; ++total) {
            ASSERT_TRUE(reader.ReadStoredByte(b));
            data.push_back(b);
        }
        for (std::size_t i = 0; i < data.size(); ++i) ASSERT_EQ(data[i], i % 251) << "at " << i;
        std::uint8_t b;
        EXPECT_FALSE(reader.ReadStoredByte(b));
    }
}

TEST(CiiReaderTest, AModeWithoutBlocksDropsOneByteBeforeEveryByte) {
    const Bytes file = Hex("41 01 42 02 43 03");
    ChunkedInput in;
    in.Attach(file);
    CiiStoredReader reader(in);
    reader.SetStorageMode('X');
    Bytes out(2);
    std::uint8_t b;
    ASSERT_TRUE(reader.ReadStoredByte(b));
    ASSERT_TRUE(reader.ReadStoredBytes(out.data(), 2));
    EXPECT_EQ(Bytes({b, out[0], out[1]}), Hex("01 02 03"));
}

TEST(CiiReaderTest, ElementLengths) {
    const struct {
        const char* bytes;
        bool read;
        std::int32_t length;
        std::int64_t consumed;
        bool warned;
    } rows[] = {{"05", true, 5, 1, false},         {"EF", true, 239, 1, false},
                {"F2 00 F0", true, 240, 3, false}, {"F2 FF FF", true, 65535, 3, false},
                {"F5", true, 0, 1, true},          {"F2 01", false, 0, 2, false},
                {"", false, 0, 0, false}};
    test::TempDir dir;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.bytes);
        ConversionLog log;
        log.file = dir / "ERR.LOG";
        std::filesystem::remove(log.file);
        const Bytes file = Hex(r.bytes);
        ChunkedInput in;
        in.Attach(file);
        CiiStoredReader reader(in);
        reader.SetStorageMode('S');
        reader.SetBlockCounter(100);
        std::int64_t remaining = 10;
        std::int32_t length = 0;
        EXPECT_EQ(reader.ReadElementLength(remaining, length, log), r.read);
        if (r.read) {
            EXPECT_EQ(length, r.length);
        }
        EXPECT_EQ(10 - remaining, r.consumed);
        EXPECT_EQ(std::filesystem::exists(log.file), r.warned);
        EXPECT_TRUE(log.ErrorCode.empty());
    }
}

TEST(CiiReaderTest, ReadBytesCountedSaysWhetherTheFileEndedFirst) {
    test::TempDir dir;
    Bytes big(3 * ChunkedInput::kChunkSize + 5);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
    test::WriteFile(dir / "f", big);
    ChunkedInput in;
    std::string error;
    ASSERT_TRUE(in.Open(dir / "f", error));
    Bytes out(big.size());
    std::int32_t count = 100000;
    EXPECT_FALSE(ReadBytesCounted(in, out.data(), count));
    EXPECT_EQ(count, 0);
    count = 100000;
    EXPECT_TRUE(ReadBytesCounted(in, out.data() + 100000, count));
    EXPECT_EQ(count, 100000 - static_cast<std::int32_t>(big.size() - 100000));
    EXPECT_TRUE(out == big);
    EXPECT_EQ(in.Offset(), big.size());
    EXPECT_FALSE(in.Open(dir / "missing", error));
}

ItemList Items(const std::vector<test::Field>& fields) {
    MemoryMasters m;
    test::AddFields(m, "K", "B", fields);
    ItemList items;
    EXPECT_TRUE(m.LoadMessageItems("K", "B", items).Ok());
    return items;
}

TEST(CiiReaderTest, FindersScanForwardWithinTheirLevel) {
    const ItemList items = Items({{1, 0, 5, 1, "X", 1},
                                  {2, 0, 20, 2, "M", 0, 0, "1", 2},
                                  {3, 1, 5, 2, "X", 1},
                                  {4, 1, 21, 3, "M", 0, 0, "A", 2},
                                  {5, 2, 6, 3, "X", 1},
                                  {6, 1, 22, 4, "M", 0, 0, "12", 2},
                                  {7, 2, 6, 4, "X", 1},
                                  {8, 0, 7, 5, "X", 1}});
    const struct {
        const char* name;
        std::int32_t start;
        std::int32_t tag;
        std::int32_t level;
        bool found;
        std::int32_t at;
    } tags[] = {{"top from 0", 0, 5, 0, true, 1},
                {"member", 3, 5, 1, true, 3},
                {"past deeper items", 2, 7, 0, true, 8},
                {"ends at a smaller level", 5, 7, 2, false, 5},
                {"not behind the start", 2, 5, 0, false, 2},
                {"from the second inner group's first member", 7, 6, 2, true, 7},
                {"a group item of a smaller level ends the scan", 6, 6, 2, false, 6}};
    for (const auto& r : tags) {
        SCOPED_TRACE(r.name);
        std::int32_t start = r.start;
        EXPECT_EQ(FindMessageItemByTag(items, start, r.tag, r.level), r.found);
        EXPECT_EQ(start, r.at);
    }
    const struct {
        const char* name;
        std::int32_t start;
        std::int32_t level;
        GroupMatch match;
        std::int32_t number;
        bool found;
        std::int32_t at;
    } groups[] = {{"first of level 0", 0, 0, GroupMatch::kFirst, 0, true, 2},
                  {"first of level 1", 3, 1, GroupMatch::kFirst, 0, true, 4},
                  {"next of level 1", 5, 1, GroupMatch::kFirst, 0, true, 6},
                  {"by character A", 3, 1, GroupMatch::kCharacter, 'A', true, 4},
                  {"by character 1", 0, 0, GroupMatch::kCharacter, '1', true, 2},
                  {"by number 12", 3, 1, GroupMatch::kNumber, 12, true, 6},
                  {"number not there", 3, 1, GroupMatch::kNumber, 13, false, 3},
                  {"character 0x41 is not the number 65", 3, 1, GroupMatch::kNumber, 'A', false, 3}};
    for (const auto& r : groups) {
        SCOPED_TRACE(r.name);
        std::int32_t start = r.start;
        EXPECT_EQ(FindGroupItem(items, start, r.level, r.match, r.number), r.found);
        EXPECT_EQ(start, r.at);
    }
    MemoryMasters m;
    test::AddFields(m, "K", "B", {{1, 0, 1, 1, "X", 1}, {7, 0, 2, 2, "X", 1}});
    ItemList local;
    ASSERT_TRUE(m.LoadLocalItems("K", "B", local).Ok());
    EXPECT_EQ(FindLocalItemBySerial(local, 107), 2);
    EXPECT_EQ(FindLocalItemBySerial(local, 7), 0);
}

TEST(CiiReaderTest, PutIntoRecordReplacesBytesAndGrowsOnlyToItsLimit) {
    const struct {
        std::int64_t position;
        const char* text;
        std::size_t limit;
        const char* expected;
    } rows[] = {{1, "AB", 100, "ABcdef"},  {5, "XYZ", 100, "abcdXYZ"}, {7, "Q", 100, "abcdefQ"},
                {20, "Q", 100, "abcdefQ"}, {0, "Q", 100, "abcdef"},    {5, "XYZ", 6, "abcdXY"},
                {9, "Q", 6, "abcdef"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.position) + " " + r.text);
        Bytes record = test::Raw("abcdef");
        PutIntoRecord(record, r.position, test::Raw(r.text), r.limit);
        EXPECT_EQ(record, test::Raw(r.expected));
    }
}

}  // namespace
}  // namespace edi
