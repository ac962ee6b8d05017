#include <gtest/gtest.h>

#include "ConvertFixtures.h"
#include "convert/CiiLayout.h"
#include "convert/CiiReader.h"

namespace edi {
namespace {

using test::FailingSink;
using test::Hex;
using test::Raw;
using test::Text;

Bytes Spaces(std::size_t n) { return Bytes(n, ' '); }

// The header of the tests, position by position.
Bytes ExpectedHeader(std::string_view flags) {
    // clang-format off
    return test::Cat({Raw("P"), Raw("VAN1        "), Raw("CTR1        "), Raw("SENDER01    "), Raw("VAN2        "),
                   Raw("CTR2        "), Hex("93 8C 8B 9E 20 20 20 20 20 20 20 20"), Raw("ABCD"), Raw("EF"), Raw("GH"),
                   Spaces(12), Raw("0110"), Spaces(6), Raw(flags), Raw("REF0000001"), Raw("261205153709"),
                   Spaces(12), Raw("30    "), Raw("E"), Raw("M"), Raw("A"), Raw("S"), Spaces(11), Raw("1"),
                   Raw("001002003004005006"), Spaces(70)});
    // clang-format on
}

CiiHeaderFields Fields(std::string storage_mode) {
    // clang-format off
    return {"P", "VAN1", "CTR1", "SENDER01", "VAN2", "CTR2", "東京", "ABCDEFGH", "0110", "REF0000001", "30",
            std::move(storage_mode), "A", "S", "1", "001", "002", "003", "004", "005", "006"};
    // clang-format on
}

TEST(CiiLayoutTest, BuildsTheGroupHeaderAtItsOffsets) {
    const LocalDateTime now{2026, 12, 5, 15, 37, 9};
    CiiGroupHeader header;
    header.Fill(Fields("M"), now);
    ASSERT_EQ(Bytes(header.body.begin(), header.body.end()), ExpectedHeader("11"));
    EXPECT_EQ(header.Bpid(), "ABCDEFGH");
    EXPECT_EQ(header.InfoKind(), "0110");
    EXPECT_TRUE(header.StorageFlagsAre("11"));

    header.Fill(Fields("S"), now);
    EXPECT_TRUE(header.StorageFlagsAre("10"));
    header.body[103] = '2';
    header.body[104] = '0';
    Bytes expected = ExpectedHeader("20");
    expected[146] = ' ';
    header.Fill(Fields(" "), now);
    EXPECT_EQ(Bytes(header.body.begin(), header.body.end()), expected) << "other modes leave the flags";

    MemorySink sink;
    ASSERT_TRUE(WriteGroupHeader(sink, header));
    EXPECT_EQ(sink.data, test::Cat({Raw("0C"), expected}));
}

TEST(CiiLayoutTest, XmlHeaderElementsMapToTheSamePositions) {
    // clang-format off
    const std::pair<const char*, const char*> texts[] = {
        {"JPC03", "P"}, {"JPC04", "VAN1"}, {"JPC05", "CTR1"}, {"JPC06", "SENDER01"}, {"JPC07", "VAN2"},
        {"JPC08", "CTR2"}, {"JPC09", "東京"}, {"JPC10", "ABCD"}, {"JPC11", "EF"}, {"JPC12", "GH"},
        {"JPC14", "0110"}, {"JPC17", "11"}, {"JPC18", "REF0000001"}, {"JPC19", "261205153709"}, {"JPC21", "30"},
        {"JPC23", "M"}, {"JPC24", "A"}, {"JPC25", "S"}, {"JPC29", "1"}, {"JPC30", "001"},
        {"JPC31", "002"}, {"JPC32", "003"}, {"JPC33", "004"}, {"JPC34", "005"}, {"JPC35", "006"},
    };
    // clang-format on
    ASSERT_EQ(kCiiHeaderElements.size(), std::size(texts));
    CiiGroupHeader header;
    header.ResetUnfedPositions();
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        SCOPED_TRACE(texts[i].first);
        ASSERT_EQ(kCiiHeaderElements[i].element, texts[i].first) << "table order";
        header.SetElementText(kCiiHeaderElements[i], texts[i].second);
    }
    EXPECT_EQ(Bytes(header.body.begin(), header.body.end()), ExpectedHeader("11"));
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        SCOPED_TRACE(texts[i].first);
        EXPECT_EQ(header.ElementText(kCiiHeaderElements[i]), texts[i].second);
    }
    header.SetElementText(kCiiHeaderElements[0], "");
    EXPECT_EQ(header.body[0], ' ') << "an empty operation mode is a space";
}

TEST(CiiLayoutTest, BuildsTheGroupEnd) {
    CiiGroupEnd end;
    end.Fill(12);
    MemorySink sink;
    ASSERT_TRUE(WriteGroupEnd(sink, end));
    EXPECT_EQ(sink.data, test::Cat({Raw("0E00012"), Spaces(244)}));
    end.Fill(123456);
    EXPECT_EQ(Text(ByteView(end.body).first(6)), "12345 ") << "the count field holds five digits";
}

TEST(CiiLayoutTest, ClassifiesRecordKinds) {
    const std::tuple<char, char, CiiRecordKind> rows[] = {
        {'0', 'C', CiiRecordKind::kGroupHeader},  {'0', 'E', CiiRecordKind::kGroupEnd},
        {'0', 'X', CiiRecordKind::kOtherControl}, {'9', 'D', CiiRecordKind::kData},
        {'1', 'D', CiiRecordKind::kData},         {'5', 'C', CiiRecordKind::kDigitNotData},
        {' ', ' ', CiiRecordKind::kUnknown},      {'D', '9', CiiRecordKind::kUnknown},
    };
    for (const auto& [first, second, kind] : rows) {
        SCOPED_TRACE(std::string(1, first) + second);
        EXPECT_EQ(ClassifyRecordKind(static_cast<std::uint8_t>(first), static_cast<std::uint8_t>(second)), kind);
    }
}

TEST(CiiLayoutTest, EncodesTagsLengthsAndGroupNumbers) {
    // The bytes an encoder writes into its three-byte buffer.
    auto encoded = [](auto encode) {
        std::uint8_t out[3];
        return Bytes(out, out + encode(out));
    };
    struct Tag {
        std::int32_t number;
        bool two_byte;
        const char* bytes;  // "" when the number has no form
    };
    // clang-format off
    const Tag tags[] = {
        {0, false, "00"}, {239, false, "EF"}, {240, false, ""}, {-1, false, ""},
        {239, true, "00 EF"}, {300, true, "01 2C"}, {40000, true, "9C 40"}, {61439, true, "EF FF"},
        {61440, true, ""}, {65535, true, ""}, {65536, true, "F1 00 00"}, {196613, true, "F3 00 05"},
        {524287, true, "F7 FF FF"}, {524288, true, ""}, {-1, true, ""},
    };
    // clang-format on
    for (const Tag& t : tags) {
        SCOPED_TRACE(std::to_string(t.number) + (t.two_byte ? " two-byte" : " one-byte"));
        EXPECT_EQ(encoded([&](auto& out) { return EncodeTag(t.number, t.two_byte, out); }), Hex(t.bytes));
    }
    const std::pair<std::size_t, const char*> lengths[] = {
        {0, "00"}, {239, "EF"}, {240, "F2 00 F0"}, {256, "F2 01 00"}, {65535, "F2 FF FF"}, {65536, ""},
    };
    for (const auto& [length, bytes] : lengths) {
        SCOPED_TRACE(length);
        EXPECT_EQ(encoded([&](auto& out) { return EncodeLength(length, out); }), Hex(bytes));
    }
    // clang-format off
    const std::pair<const char*, const char*> groups[] = {
        {"0", "FA 30"}, {"5", "FA 35"}, {"A", "FA 41"}, {"Z", "FA 5A"}, {"10", "FD 00 0A"}, {"120", "FD 00 78"},
        {"65535", "FD FF FF"}, {"65536", ""}, {"9", "FA 39"}, {"a", ""}, {"AB", ""}, {"", ""},
        {"1X", ""},
    };
    // clang-format on
    for (const auto& [number, bytes] : groups) {
        SCOPED_TRACE(number);
        EXPECT_EQ(encoded([&](auto& out) { return EncodeGroupNumber(number, out); }), Hex(bytes));
    }
}

// A message writer logging into a temporary folder.
class CiiWriterTest : public ::testing::Test {
protected:
    test::TempDir dir;
    ConversionLog log{dir / "ERR.LOG", ""};
    CiiMessageWriter writer{log};
    ByteView record;
};

TEST_F(CiiWriterTest, WritesAMessageWithItsShortPrefix) {
    writer.Begin(1);
    EXPECT_TRUE(writer.AppendGroupStart("7")) << "one-byte tags: a bare group start";
    EXPECT_EQ(writer.AppendElement(239, Raw("A")), ElementStatus::kWritten);
    writer.AppendMarker(kCiiGroupEnd);
    EXPECT_EQ(writer.AppendElement(300, Raw("BC")), ElementStatus::kWritten);
    EXPECT_TRUE(writer.TwoByteTags());
    EXPECT_EQ(writer.AppendElement(5, Raw("")), ElementStatus::kWritten);
    EXPECT_TRUE(writer.AppendGroupStart("120"));
    writer.AppendMarker(kCiiOccurrenceEnd);
    writer.ReplaceLastByte(kCiiGroupEnd);
    EXPECT_FALSE(writer.AppendGroupStart("ab"));
    ASSERT_TRUE(writer.Finish(record));
    EXPECT_EQ(Bytes(record.begin(), record.end()),
              Hex("39 44 30 30 30 30 31 00 1B"  // 9D 00001, 27 = prefix + area
                  " FA EF 01 41 FC F0 01 2C 02 42 43 00 05 00 FD 00 78 FC FE"));

    writer.Begin(2);  // 239 bytes take one length byte, 240 take 0xF2 and two
    writer.AppendElement(1, Bytes(239, 'x'));
    writer.AppendElement(2, Bytes(240, 'y'));
    ASSERT_TRUE(writer.Finish(record));
    ASSERT_EQ(record.size(), 9u + 2 + 239 + 4 + 240 + 1);
    EXPECT_EQ(Bytes(record.begin() + 7, record.begin() + 11), Hex("01 EE 01 EF")) << "494 bytes, tag 1, length 239";
    EXPECT_EQ(Bytes(record.begin() + 249, record.begin() + 254), Hex("78 02 F2 00 F0"));

    writer.Begin(123456);
    ASSERT_TRUE(writer.Finish(record));
    EXPECT_EQ(Bytes(record.begin(), record.end()), Hex("39 44 32 33 34 35 36 00 09 FE"))
        << "an empty message; the number keeps its last five digits";
    EXPECT_FALSE(std::filesystem::exists(log.file));
}

TEST_F(CiiWriterTest, ReportsAndSkipsElementsWithoutAForm) {
    log.ErrorCode = "0004";
    writer.Begin(3);
    EXPECT_EQ(writer.AppendElement(-1, Raw("A")), ElementStatus::kBadTag);
    EXPECT_EQ(writer.AppendElement(7, Bytes(65536, 'z')), ElementStatus::kTooLong);
    EXPECT_EQ(writer.AppendElement(61440, Raw("B")), ElementStatus::kBadTag);
    EXPECT_EQ(writer.AppendElement(8, Raw("C")), ElementStatus::kWritten);
    ASSERT_TRUE(writer.Finish(record));
    EXPECT_EQ(Bytes(record.begin(), record.end()), Hex("39 44 30 30 30 30 33 00 0E F0 00 08 01 43 FE"))
        << "the 0xF0 of item 61440 stays, its element does not";
    EXPECT_EQ(ToUnicodeText(test::ReadFile(log.file)), "0006項目№=-1\n0016項目№=7 長さ=65536\n0006項目№=61440\n");
    EXPECT_EQ(log.ErrorCode, "0004") << "warnings keep the failure code";
}

TEST_F(CiiWriterTest, SwitchesToTheLongPrefixAbove32759Bytes) {
    // One element of tag 1 and a 0xF2 length takes 4 bytes plus its value: an element area of
    // 32759 bytes keeps the short prefix, one byte more takes the long one.
    const std::pair<std::size_t, Bytes> rows[] = {
        {32755, Hex("39 44 30 30 30 30 37 80 00 01 F2 7F F3")},
        {32756, test::Cat({Raw("9D00007"), Hex("80 80 F7"), Raw("0032777"), Hex("01 F2 7F F4")})}};
    for (const auto& [value, head] : rows) {
        SCOPED_TRACE(value);
        writer.Begin(7);
        writer.AppendElement(1, Bytes(value, 'a'));
        ASSERT_TRUE(writer.Finish(record));
        ASSERT_EQ(record.size(), head.size() + value + 1);
        EXPECT_EQ(Bytes(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(head.size())), head);
        EXPECT_EQ(record.back(), 0xFE);
    }
}

TEST(CiiLayoutTest, DecodesShortAndLongPrefixes) {
    struct Case {
        const char* name;
        Bytes after_kind;
        PrefixStatus status;
        std::int32_t number;
        std::int32_t length;
        std::size_t size;
    };
    const Case cases[] = {
        {"short", test::Cat({Raw("00012"), Hex("01 2C")}), PrefixStatus::kDecoded, 12, 300, 9},
        {"short with the high bit set", test::Cat({Raw("00001"), Hex("80 00")}), PrefixStatus::kDecoded, 1, 32768, 9},
        {"long", test::Cat({Raw("00003"), Hex("80 80 F7"), Raw("0032777")}), PrefixStatus::kDecoded, 3, 32777, 17},
        {"long cut short", test::Cat({Raw("00003"), Hex("80 80 F7"), Raw("003")}), PrefixStatus::kNeedMore, 0, 0, 0},
        {"too short", Raw("0001"), PrefixStatus::kNeedMore, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CiiDataPrefix prefix;
        ASSERT_EQ(DecodeDataPrefix(c.after_kind, prefix), c.status);
        if (c.status != PrefixStatus::kDecoded) continue;
        EXPECT_EQ(prefix.message_number, c.number);
        EXPECT_EQ(prefix.length, c.length);
        EXPECT_EQ(prefix.size, c.size);
    }
}

// A record of n bytes: "9" then a pattern that shows where every byte went.
Bytes Record(std::size_t n) {
    Bytes r(n);
    r[0] = '9';
    for (std::size_t i = 1; i < n; ++i) r[i] = static_cast<std::uint8_t>('a' + i % 23);
    return r;
}
Bytes Part(const Bytes& r, std::size_t from, std::size_t count) {
    return Bytes(r.begin() + from, r.begin() + from + count);
}

TEST(CiiLayoutTest, CutsRecordsIntoStorageBlocks) {
    const Bytes r251 = Record(251);
    const Bytes r252 = Record(252);
    const Bytes r502 = Record(502);
    const Bytes r32002 = Record(32002);
    struct Case {
        const char* name;
        char mode;
        const Bytes& record;
        Bytes expected;
    };
    const Case cases[] = {
        {"251 bytes: one block", ' ', r251, r251},
        {"252 bytes: two blocks, the last padded", ' ', r252,
         test::Cat({Raw("1"), Part(r252, 1, 250), Raw("9"), Part(r252, 251, 1), Spaces(249)})},
        {"mode M as mode space", 'M', r252,
         test::Cat({Raw("1"), Part(r252, 1, 250), Raw("9"), Part(r252, 251, 1), Spaces(249)})},
        {"502 bytes: a last block of one byte", ' ', r502,
         test::Cat({Raw("1"), Part(r502, 1, 250), Raw("2"), Part(r502, 251, 250), Raw("9"), Part(r502, 501, 1),
                    Spaces(249)})},
        {"mode S: short record as it is", 'S', r251, r251},
        {"mode S: 32002 bytes, no padding", 'S', r32002,
         test::Cat({Raw("1"), Part(r32002, 1, 32000), Raw("9"), Part(r32002, 32001, 1)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemorySink sink;
        EXPECT_EQ(WriteStorageBlocks(sink, c.record, static_cast<std::uint8_t>(c.mode)), StoreResult::kWritten);
        EXPECT_EQ(sink.data, c.expected);
    }

    // Ten blocks: the continuation digit runs 1..8 and starts again at 1.
    MemorySink sink;
    ASSERT_EQ(WriteStorageBlocks(sink, Record(1 + 250 * 9 + 1), ' '), StoreResult::kWritten);
    ASSERT_EQ(sink.data.size(), 2510u);
    std::string leads;
    for (std::size_t i = 0; i < sink.data.size(); i += 251) leads.push_back(static_cast<char>(sink.data[i]));
    EXPECT_EQ(leads, "1234567819");

    MemorySink none;
    EXPECT_EQ(WriteStorageBlocks(none, r252, 'X'), StoreResult::kUnknownMode);
    EXPECT_TRUE(none.data.empty());
}

TEST(CiiLayoutTest, ReportsASinkThatFails) {
    for (const std::size_t capacity : {0u, 1u, 251u, 300u}) {
        SCOPED_TRACE(capacity);
        FailingSink sink(capacity);
        EXPECT_EQ(WriteStorageBlocks(sink, Record(600), ' '), StoreResult::kSinkFailed);
    }
    FailingSink header_sink(100);
    EXPECT_FALSE(WriteGroupHeader(header_sink, CiiGroupHeader{}));
}

TEST(FileSinkTest, ReplacesTheTargetOnlyWhenCommitted) {
    test::TempDir dir;
    const auto target = dir / "OUT.CII";
    test::WriteFile(target, std::string_view("old"));
    std::string error;
    auto only_target_left = [&] {
        std::size_t files = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
        return files == 1;
    };
    {
        FileSink sink;
        ASSERT_TRUE(sink.Open(target, FileSink::Mode::kReplace, error)) << error;
        EXPECT_TRUE(sink.Write(Raw("half")));
    }
    EXPECT_EQ(test::ReadText(target), "old") << "abandoned: the target is untouched";
    EXPECT_TRUE(only_target_left());

    FileSink append;
    ASSERT_TRUE(append.Open(target, FileSink::Mode::kAppend, error)) << error;
    EXPECT_TRUE(append.Write(Raw("new")));
    EXPECT_EQ(test::ReadText(target), "old") << "nothing reaches the target before the commit";
    ASSERT_TRUE(append.Commit(error)) << error;
    EXPECT_EQ(test::ReadText(target), "oldnew");
    EXPECT_TRUE(only_target_left());

    FileSink replace;
    ASSERT_TRUE(replace.Open(target, FileSink::Mode::kReplace, error)) << error;
    EXPECT_TRUE(replace.Write(Raw("fresh")));
    ASSERT_TRUE(replace.Commit(error)) << error;
    EXPECT_EQ(test::ReadText(target), "fresh");

    FileSink missing;
    EXPECT_FALSE(missing.Open(dir / "no-such-folder" / "OUT.CII", FileSink::Mode::kReplace, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(missing.Write(Raw("x")));
}

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
    ConversionLog log{dir / "ERR.LOG", ""};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.bytes);
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
