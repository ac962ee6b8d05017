#include "convert/CiiDump.h"

#include <cstdio>
#include <string>

#include "convert/CiiLayout.h"

namespace edi {
namespace {

std::string HexOf(ByteView bytes) {
    std::string text;
    char b[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(b, sizeof b, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += b;
    }
    return text;
}

// Printable Shift-JIS text in quotes, anything else as hex.
std::string Shown(ByteView bytes) {
    for (std::size_t i = 0; i < bytes.size(); i += CharLengthAt(bytes, i)) {
        const std::uint8_t b = bytes[i];
        if (b < 0x20 || b == 0x7F || b == 0x80 || b == 0xA0 || b >= 0xFD || (IsLeadByte(b) && i + 1 >= bytes.size())) {
            return "hex " + HexOf(bytes);
        }
    }
    const std::string text = ToUnicodeText(bytes);
    return text.find("\xEF\xBF\xBD") == std::string::npos ? "\"" + text + "\"" : "hex " + HexOf(bytes);
}

class Dumper {
public:
    Dumper(ChunkedInput& in, FormatMasterSource* masters, std::ostream& out)
        : in_(in), stored_(in), masters_(masters), out_(out) {}

    bool Run() {
        for (;;) {
            const std::uint64_t at = in_.Offset();
            std::uint8_t kind[2];
            std::int32_t count = 2;
            if (ReadBytesCounted(in_, kind, count)) {
                if (count == 1) Line(at, "a single byte after the last record: " + HexOf(ByteView(kind, 1)));
                return true;
            }
            const std::string kind_text = Shown(ByteView(kind, 2));
            switch (ClassifyRecordKind(kind[0], kind[1])) {
                case CiiRecordKind::kGroupHeader:
                    if (!Header(at)) return false;
                    continue;
                case CiiRecordKind::kGroupEnd: {
                    std::uint8_t body[kCiiControlBodySize];
                    std::int32_t n = static_cast<std::int32_t>(kCiiControlBodySize);
                    if (ReadBytesCounted(in_, body, n)) return Cut(at);
                    Line(at, "message-group end \"0E\": message count " + Shown(ByteView(body, 5)));
                    continue;
                }
                case CiiRecordKind::kData:
                    if (!Data(at)) return false;
                    continue;
                case CiiRecordKind::kOtherControl:
                case CiiRecordKind::kDigitNotData:
                case CiiRecordKind::kUnknown:
                    Line(at, "unknown record kind " + kind_text + " (" + HexOf(ByteView(kind, 2)) + ")");
                    continue;
            }
        }
    }

private:
    void Line(std::uint64_t at, const std::string& text) { out_ << '@' << at << ' ' << text << '\n'; }
    void Detail(const std::string& text) { out_ << "    " << text << '\n'; }
    bool Cut(std::uint64_t at) {
        Line(at, "the file ends inside this record");
        return false;
    }

    bool Header(std::uint64_t at) {
        std::int32_t n = static_cast<std::int32_t>(kCiiControlBodySize);
        if (ReadBytesCounted(in_, header_.body.data(), n)) return Cut(at);
        Line(at, "message-group header \"0C\"");
        for (const CiiHeaderElement& e : kCiiHeaderElements) {
            Detail(std::string(e.element) + " " + std::string(e.field) + " @" + std::to_string(e.offset) + ": " +
                   Shown(header_.Field(e.offset, e.length)));
        }
        stored_.SetStorageMode(header_.StorageMode());
        items_.Clear();
        if (masters_ != nullptr) {
            const LoadResult r = masters_->LoadMessageItems(header_.InfoKind(), header_.Bpid(), items_);
            if (!r.Ok()) Detail("no message items for this kind and BPID: " + r.Describe());
        }
        return true;
    }

    std::string NameOf(std::int32_t tag) const {
        for (const RecordFormatItem& item : items_) {
            if (item.項目No == tag && !item.IsGroup()) return "  [" + item.項目名称 + "]";
        }
        return items_.Empty() ? "" : "  [no item]";
    }

    bool Data(std::uint64_t at) {
        std::uint8_t prefix[15];
        std::int32_t n = 7;
        if (ReadBytesCounted(in_, prefix, n)) return Cut(at);
        const bool long_form = prefix[5] == 0x80 && prefix[6] == 0x80;
        std::int32_t more = 8;
        if (long_form && ReadBytesCounted(in_, prefix + 7, more)) return Cut(at);
        CiiDataPrefix p;
        DecodeDataPrefix(ByteView(prefix, long_form ? 15 : 7), p);
        Line(at, "message " + std::to_string(p.message_number) + ", length " + std::to_string(p.length) +
                     (long_form ? " (17-byte prefix)" : " (9-byte prefix)"));
        const std::uint8_t mode = header_.StorageMode();
        const auto prefix_size = static_cast<std::int32_t>(p.size);
        if (mode == 'S') stored_.SetBlockCounter(32001 - prefix_size);
        if (mode == ' ' || mode == 'M') stored_.SetBlockCounter(251 - prefix_size);
        bool two_byte = false;
        std::uint8_t b;
        auto next = [this](std::uint8_t& x) { return stored_.ReadStoredByte(x); };
        while (next(b)) {
            std::uint8_t b1 = 0;
            std::uint8_t b2 = 0;
            std::int32_t tag = -1;
            if (b <= 239) {
                if (two_byte && !next(b1)) return Cut(at);
                tag = two_byte ? b * 256 + b1 : b;
            } else if (two_byte && b >= 241 && b <= 247) {
                if (!next(b1) || !next(b2)) return Cut(at);
                tag = (b - 240) * 65536 + b1 * 256 + b2;
            } else if (b == kCiiTwoByteTags) {
                Detail(two_byte ? "F0 (in front of a numbered group)" : "F0 two-byte tags from here");
                two_byte = true;
            } else if (b == kCiiGroupStart) {
                if (two_byte && !next(b1)) return Cut(at);
                Detail(two_byte ? "FA group start, number " + Shown(ByteView(&b1, 1)) : "FA group start");
            } else if (b == kCiiNumberedGroupStart) {
                if (two_byte && (!next(b1) || !next(b2))) return Cut(at);
                Detail(two_byte ? "FD group start, number " + std::to_string(b1 * 256 + b2)
                                : "FD in one-byte mode (no meaning)");
            } else if (b == kCiiOccurrenceEnd) {
                Detail("FB end of occurrence");
            } else if (b == kCiiGroupEnd) {
                Detail("FC end of group");
            } else if (b == kCiiMessageEnd) {
                Detail("FE end of message");
                if (StorageBlocksPadded(mode) && stored_.BlockCounter() > 0) {
                    std::int32_t left = stored_.BlockCounter();
                    stored_.SetBlockCounter(0);
                    if (ReadBytesCounted(in_, nullptr, left)) return Cut(at);
                }
                return true;
            } else {
                Detail(HexOf(ByteView(&b, 1)) + " (no meaning here)");
            }
            if (tag < 0) continue;
            std::int64_t remaining = 0;
            std::int32_t length = 0;
            ConversionLog quiet;
            if (!stored_.ReadElementLength(remaining, length, quiet)) return Cut(at);
            value_.resize(static_cast<std::size_t>(length));
            if (!stored_.ReadStoredBytes(value_.data(), value_.size())) return Cut(at);
            Detail("tag " + std::to_string(tag) + " length " + std::to_string(length) + ": " + Shown(value_) +
                   NameOf(tag));
        }
        return Cut(at);
    }

    ChunkedInput& in_;
    CiiStoredReader stored_;
    FormatMasterSource* masters_;
    std::ostream& out_;
    CiiGroupHeader header_;
    ItemList items_;
    Bytes value_;
};

}  // namespace

bool DumpCii(ChunkedInput& input, FormatMasterSource* masters, std::ostream& out) {
    return Dumper(input, masters, out).Run();
}

}  // namespace edi
