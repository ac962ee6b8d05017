#include <gtest/gtest.h>

#include "ConvertFixtures.h"
#include "convert/CiiLayout.h"
#include "convert/CiiReader.h"

namespace edi {
namespace {

Bytes Spaces(std::size_t n) { return Bytes(n, ' '); }

// The header of the tests, position by position.
Bytes ExpectedHeader(std::string_view flags) {
    // clang-format off
    return Cat({Raw("P"), Raw("VAN1        "), Raw("CTR1        "), Raw("SENDER01    "), Raw("VAN2        "),
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

TEST(CiiLayoutTest, BuildsTheGroupHeaderAndEndAtTheirOffsets) {
    const LocalDateTime now{2026, 12, 5, 15, 37, 9};
    CiiGroupHeader header;
    header.Fill(Fields("M"), now);
    ASSERT_EQ(Bytes(header.body.begin(), header.body.end()), ExpectedHeader("11"));
    EXPECT_EQ(header.Bpid() + " " + header.InfoKind(), "ABCDEFGH 0110");
    // clang-format off
    const char* texts[] = {"P", "VAN1", "CTR1", "SENDER01", "VAN2", "CTR2", "東京", "ABCD", "EF", "GH", "0110", "11",
                           "REF0000001", "261205153709", "30", "M", "A", "S", "1", "001", "002", "003", "004", "005",
                           "006"};
    // clang-format on
    ASSERT_EQ(kCiiHeaderElements.size(), std::size(texts));
    for (std::size_t i = 0; i < std::size(texts); ++i)
        EXPECT_EQ(header.ElementText(kCiiHeaderElements[i]), texts[i]) << kCiiHeaderElements[i].element;

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
    CiiGroupEnd end;
    end.Fill(123456);
    ASSERT_TRUE(WriteGroupEnd(sink, end));
    EXPECT_EQ(sink.data, Cat({Raw("0C"), expected, Raw("0E12345"), Spaces(244)}))
        << "the count field holds five digits";
}

// The boundaries of the element encoders that no conversion of the other tests reaches.
TEST(CiiLayoutTest, EncodesTagsLengthsAndGroupNumbersUpToTheirLimits) {
    auto encoded = [](auto encode) {
        std::uint8_t out[3];
        return Bytes(out, out + encode(out));
    };
    const std::tuple<std::int32_t, const char*> tags[] = {{61439, "EF FF"},     {65535, ""},  {65536, "F1 00 00"},
                                                          {524287, "F7 FF FF"}, {524288, ""}, {-1, ""}};
    for (const auto& [number, bytes] : tags)
        EXPECT_EQ(encoded([&](auto& out) { return EncodeTag(number, true, out); }), Hex(bytes)) << number;
    const std::pair<std::size_t, const char*> lengths[] = {{239, "EF"}, {240, "F2 00 F0"}, {65535, "F2 FF FF"}};
    for (const auto& [length, bytes] : lengths)
        EXPECT_EQ(encoded([&](auto& out) { return EncodeLength(length, out); }), Hex(bytes)) << length;
    const std::pair<const char*, const char*> groups[] = {{"9", "FA 39"}, {"Z", "FA 5A"},       {"a", ""},
                                                          {"", ""},       {"1X", ""},           {"10", "FD 00 0A"},
                                                          {"65536", ""},  {"65535", "FD FF FF"}};
    for (const auto& [number, bytes] : groups)
        EXPECT_EQ(encoded([&](auto& out) { return EncodeGroupNumber(number, out); }), Hex(bytes)) << number;
}

TEST(CiiWriterTest, WritesMessagesWithTheirPrefixesAndSkipsElementsWithoutAForm) {
    test::TempDir dir;
    ConversionLog log{dir / "ERR.LOG", ""};
    CiiMessageWriter writer{log};
    ByteView record;
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

    writer.Begin(123456);
    ASSERT_TRUE(writer.Finish(record));
    EXPECT_EQ(Bytes(record.begin(), record.end()), Hex("39 44 32 33 34 35 36 00 09 FE"))
        << "an empty message; the number keeps its last five digits";
    EXPECT_FALSE(std::filesystem::exists(log.file));

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

    // One element of tag 1 and a 0xF2 length takes 4 bytes plus its value: an element area of
    // 32759 bytes keeps the short prefix, one byte more takes the long one.
    const std::pair<std::size_t, Bytes> rows[] = {
        {32755, Hex("39 44 30 30 30 30 37 80 00 01 F2 7F F3")},
        {32756, Cat({Raw("9D00007"), Hex("80 80 F7"), Raw("0032777"), Hex("01 F2 7F F4")})}};
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

TEST(FileSinkTest, ReplacesTheTargetOnlyWhenCommitted) {
    test::TempDir dir;
    const auto target = dir / "OUT.CII";
    test::WriteFile(target, std::string_view("old"));
    std::string error;
    auto only_target_left = [&] { return std::distance(std::filesystem::directory_iterator(dir.path()), {}) == 1; };
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
    ChunkedInput input;
    EXPECT_FALSE(input.Open(dir / "missing", error));
}

TEST(CiiReaderTest, StoredBytesAndElementLengths) {
    const Bytes file = Hex("41 01 42 02 43 03");  // a mode without blocks drops one byte before every byte
    ChunkedInput in;
    in.Attach(file);
    CiiStoredReader reader(in);
    reader.SetStorageMode('X');
    Bytes out(2);
    std::uint8_t b;
    ASSERT_TRUE(reader.ReadStoredByte(b));
    ASSERT_TRUE(reader.ReadStoredBytes(out.data(), 2));
    EXPECT_EQ(Bytes({b, out[0], out[1]}), Hex("01 02 03"));

    test::TempDir dir;
    ConversionLog log{dir / "ERR.LOG", ""};
    // The bytes, whether a length was read, the length and the bytes taken; 0xF5 is no length byte.
    const std::tuple<const char*, bool, std::int32_t, std::int64_t> rows[] = {
        {"EF", true, 239, 1}, {"F2 00 F0", true, 240, 3}, {"F2 FF FF", true, 65535, 3},
        {"F5", true, 0, 1},   {"F2 01", false, 0, 2},     {"", false, 0, 0}};
    for (const auto& [bytes, read, length, taken] : rows) {
        const Bytes file = Hex(bytes);
        ChunkedInput in;
        in.Attach(file);
        CiiStoredReader reader(in);
        reader.SetStorageMode('S');
        reader.SetBlockCounter(100);
        std::int64_t remaining = 10;
        std::int32_t got = 0;
        EXPECT_EQ(reader.ReadElementLength(remaining, got, log), read) << bytes;
        EXPECT_EQ(std::make_pair(got, 10 - remaining), std::make_pair(length, taken)) << bytes;
    }
    EXPECT_EQ(test::ReadText(log.file), "0009\n") << "one warning, for 0xF5";
    EXPECT_TRUE(log.ErrorCode.empty());
}

// A group marker names its group by a character (a digit also by its value) or a number.
TEST(CiiReaderTest, GroupMarkersNameTheirGroup) {
    const std::tuple<const char*, GroupMatch, std::int32_t, bool> rows[] = {
        {"7", GroupMatch::kFirst, 0, true},        {"A", GroupMatch::kCharacter, 'A', true},
        {"01", GroupMatch::kCharacter, '1', true}, {"1X", GroupMatch::kCharacter, '1', false},
        {"12", GroupMatch::kNumber, 12, true},     {"12", GroupMatch::kNumber, 13, false},
        {"A", GroupMatch::kNumber, 'A', false},
    };
    for (const auto& [number, match, marker, named] : rows) {
        RecordFormatItem group;
        group.マルチ明細番号 = number;
        EXPECT_EQ(GroupNamed(group, match, marker), named) << number << " " << marker;
    }
    MemoryMasters m;
    bench::AddMasters(m, {{1, 0, 1, 1, "X", 1}, {7, 0, 2, 2, "X", 1}}, " ", "M", "M");
    ItemList local;
    ASSERT_TRUE(m.LoadLocalItems("0110", "BP000001", local).Ok());
    EXPECT_EQ(std::make_pair(FindLocalItemBySerial(local, 107), FindLocalItemBySerial(local, 7)), std::make_pair(2, 0));
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
        Bytes record = Raw("abcdef");
        PutIntoRecord(record, r.position, Raw(r.text), r.limit);
        EXPECT_EQ(record, Raw(r.expected));
    }
}

}  // namespace
}  // namespace edi
