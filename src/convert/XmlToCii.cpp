// XML to CII: XmlRecordReader parses the document and hands out one JPMGH or JPTRM element at a
// time, which is encoded and dropped.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>

#include "convert/AttributeEdit.h"
#include "convert/MessageItemIndex.h"
#include "convert/XmlCii.h"
#include "convert/XmlRecord.h"
#include "convert/XmlSupport.h"

namespace edi {
namespace {

namespace code = xml_cii_code;
inline constexpr std::int32_t kGeneralFailure = 9999;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool AllDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view WithoutLeadingZeros(std::string_view digits) {
    while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
    return digits;
}

// A group name's number against an item's マルチ明細番号: the same text, or the same number
// when both are digits ("JPM07" names group 7). A letter never stands for a number.
bool GroupNumberMatches(std::string_view multi_number, std::string_view tail) {
    if (multi_number == tail) return true;
    return AllDigits(multi_number) && AllDigits(tail) && WithoutLeadingZeros(multi_number) == WithoutLeadingZeros(tail);
}

bool IsZeroGroupNumber(std::string_view multi_number) {
    return AllDigits(multi_number) && WithoutLeadingZeros(multi_number) == "0";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The last n characters of UTF-8 text.
std::string_view RightChars(std::string_view text, std::int32_t n) {
    if (n <= 0) return {};
    std::size_t pos = text.size();
    std::int32_t taken = 0;
    while (pos > 0 && taken < n) {
        --pos;
        if ((static_cast<unsigned char>(text[pos]) & 0xC0) != 0x80) ++taken;
    }
    return text.substr(pos);
}

// Where the walk stands: the group item whose members are being written (0 at the top) and
// their level.
struct Scope {
    std::int32_t group_index = 0;
    std::int32_t level = 0;
};

class XmlCiiWriter final : private XmlRecordReader::Handler {
public:
    XmlCiiWriter(ByteSink& sink, XmlCiiState& state, FormatMasterSource& masters, ConversionLog& log)
        : sink_(sink), state_(state), masters_(masters), log_(log), message_(log) {}

    // Reads the document from the file, or from memory when document is given; name is the
    // document's name in the log.
    bool Run(const std::string& name, const ByteView* document);

private:
    using Node = XmlRecordNodes::Index;
    static constexpr Node kNone = XmlRecordNodes::kNone;
    bool Begin(xmlDocPtr doc) override;
    bool Record(Node record) override;
    std::string_view NodeName(Node node) const { return Nodes().Chars(Nodes()[node]); }
    const XmlRecordNodes& Nodes() const { return reader_.Nodes(); }
    bool Fail(std::int32_t failure, const std::string& text) {
        WriteErrorLog(log_, failure, text, 0);
        return false;
    }
    bool Write(bool written) {
        if (!written && !sink_failed_) {
            sink_failed_ = true;
            WriteErrorLog(log_, code::kCannotWrite, "", 0);
        }
        return written;
    }
    void TakeEncoding(const xmlChar* declared);
    bool ReadGroupHeader(Node header);
    bool WriteGroupEnd();
    bool WriteMessage(Node message);
    void WalkChildren(Node parent, Scope scope);
    void WriteGroup(Node group, std::string_view name, Scope scope);
    void WriteDataElement(Node element, std::string_view name, Scope scope);
    // The element's text, trimmed, into text_; false when an entity refused it (refused_ set).
    bool NodeText(Node element);
    bool AppendNodeText(Node parent, std::size_t& entity_text);
    // The element's value by the item's attribute into value_; false when nothing is written.
    bool ConvertValue(const RecordFormatItem& item, const std::string& text);
    // Text in the local code into out; characters it cannot hold are written as "?" and logged.
    void AppendLocal(std::string_view text, const RecordFormatItem& item, Bytes& out);
    std::int32_t FindElementItem(std::int32_t tag, Scope scope);
    std::int32_t FindGroupItem(std::string_view number, Scope scope, bool& unnumbered) const;

    ByteSink& sink_;
    XmlCiiState& state_;
    FormatMasterSource& masters_;
    ConversionLog& log_;
    CiiMessageWriter message_;
    std::int32_t message_count_ = 0;
    bool group_open_ = false;
    bool sink_failed_ = false;
    MessageItemIndex index_;  // of state_.message_items once indexed_
    bool indexed_ = false;
    std::string text_;  // reused for every element's text
    std::string refused_;  // why the document cannot be read without losing text
    Bytes value_;       // reused for every element's value
    Bytes scratch_;
    XmlRecordReader reader_;
    std::string name_;
};

void XmlCiiWriter::TakeEncoding(const xmlChar* declared) {
    if (declared == nullptr) return;
    std::string name(reinterpret_cast<const char*>(declared));
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
    char letter = 'M';  // Shift_JIS and every other name
    if (name == "UTF-16") {
        letter = 'U';
    } else if (name == "ISO-2022-JP") {
        letter = 'S';
    }
    state_.encoding_letter.assign(1, letter);
}

bool XmlCiiWriter::ReadGroupHeader(Node element) {
    CiiGroupHeader& header = state_.header;
    header.ResetUnfedPositions();
    bool changed = false;
    for (Node c = Nodes().FirstElement(element); c != kNone; c = Nodes().NextElement(c)) {
        const std::string_view name = NodeName(c);
        const auto field = std::find_if(kCiiHeaderElements.begin(), kCiiHeaderElements.end(),
                                        [name](const CiiHeaderElement& e) { return e.element == name; });
        if (field == kCiiHeaderElements.end()) continue;
        if (!NodeText(c)) return false;
        // A field equals its text only when the text fills it exactly: a shorter text, padded
        // with spaces in the field, always counts as a change.
        scratch_.clear();
        const bool lost =
            AppendAnsiBytes(text_, scratch_) != 0 || (!field->character_code && scratch_.size() > field->length);
        if (lost) WriteErrorLog(log_, code::kNotLocalText, std::string(field->element), 1);
        const ByteView current = header.Field(field->offset, field->length);
        if (scratch_.size() == current.size() && std::equal(current.begin(), current.end(), scratch_.begin())) continue;
        changed = true;
        header.SetElementText(*field, text_);
    }
    // The first header of a document is always written, so that every conversion's records
    // start with their group header whatever an earlier conversion left in the state.
    if (!changed && group_open_) return true;

    if (group_open_) {
        if (!WriteGroupEnd()) return false;
    } else {
        group_open_ = true;
    }
    const std::string bpid = header.Bpid();
    const std::string info_kind = header.InfoKind();
    // A group whose masters are missing keeps the previous group's.
    FormatInfo format;
    LoadResult loaded = masters_.LoadFormatInfo(info_kind, bpid, format);
    if (loaded.Ok()) {
        state_.format = std::move(format);
    } else if (loaded.status != LoadStatus::kNoRows) {
        return Fail(kGeneralFailure, loaded.Describe());
    }
    ItemList items;
    loaded = masters_.LoadMessageItems(info_kind, bpid, items);
    if (loaded.Ok()) {
        state_.message_items.Swap(items);
        indexed_ = false;
    } else if (loaded.status != LoadStatus::kNoRows) {
        return Fail(kGeneralFailure, loaded.Describe());
    }
    return Write(WriteGroupHeader(sink_, header));
}

bool XmlCiiWriter::WriteGroupEnd() {
    state_.group_end.Fill(message_count_);
    return Write(edi::WriteGroupEnd(sink_, state_.group_end));
}

bool XmlCiiWriter::WriteMessage(Node element) {
    message_.Begin(++message_count_);
    WalkChildren(element, Scope{});
    ByteView record;
    if (!message_.Finish(record)) {
        WriteErrorLog(log_, code::kMessageTooLong, "SEQ=" + std::to_string(message_count_), 1);
        return true;
    }
    // A storage mode other than "S", " " and "M" writes no message; header and end still are.
    return Write(WriteStorageBlocks(sink_, record, state_.header.StorageMode()) != StoreResult::kSinkFailed);
}

void XmlCiiWriter::WalkChildren(Node parent, Scope scope) {
    for (Node c = Nodes().FirstElement(parent); c != kNone; c = Nodes().NextElement(c)) {
        const std::string_view name = NodeName(c);
        if (name.starts_with("JPM")) {
            if (name.ends_with("R")) {
                // One occurrence: its members, then 0xFB when another occurrence follows.
                WalkChildren(c, scope);
                if (Nodes().NextElement(c) != kNone) message_.AppendMarker(kCiiOccurrenceEnd);
            } else {
                WriteGroup(c, name, scope);
            }
        } else if (name.starts_with("JP")) {
            WriteDataElement(c, name, scope);
        }
    }
}

void XmlCiiWriter::WriteGroup(Node element, std::string_view name, Scope scope) {
    const std::string_view number = name.substr(3);
    bool unnumbered = false;
    const std::int32_t index = FindGroupItem(number, scope, unnumbered);
    if (index == 0) {
        WriteErrorLog(log_, code::kUnknownGroup, std::string(name), 1);
        return;
    }
    const RecordFormatItem& item = state_.message_items[index];
    if (unnumbered && !message_.TwoByteTags()) {
        message_.AppendMarker(kCiiGroupStart);
    } else {
        if (!IsZeroGroupNumber(item.マルチ明細番号)) message_.SwitchToTwoByteTags();
        if (!message_.AppendGroupStart(item.マルチ明細番号)) {
            WriteErrorLog(log_, code::kUnknownGroup, std::string(name) + " マルチ明細番号=" + item.マルチ明細番号, 1);
            return;
        }
    }
    WalkChildren(element, Scope{index, item.レベル番号 + 1});
    message_.AppendMarker(kCiiGroupEnd);
}

void XmlCiiWriter::WriteDataElement(Node element, std::string_view name, Scope scope) {
    const std::string_view number = name.substr(2);
    std::int32_t index = 0;
    if (AllDigits(number) && WithoutLeadingZeros(number).size() <= 7) {
        std::int32_t tag = 0;
        for (const char c : number) tag = tag * 10 + (c - '0');
        index = FindElementItem(tag, scope);
    }
    if (index == 0) {
        WriteErrorLog(log_, code::kUnknownElement, std::string(name), 1);
        return;
    }
    const RecordFormatItem& item = state_.message_items[index];
    // The first item numbered 240 or more switches to 2-byte tags, whether or not it is written.
    if (item.項目No >= 240) message_.SwitchToTwoByteTags();
    if (!NodeText(element) || !ConvertValue(item, text_)) return;
    if (!message_.AppendShortElement(item.項目No, value_)) message_.AppendElement(item.項目No, value_);
}

bool XmlCiiWriter::AppendNodeText(Node parent, std::size_t& entity_text) {
    for (Node c = Nodes()[parent].first_child; c != kNone; c = Nodes()[c].next) {
        const XmlRecordNodes::Node& node = Nodes()[c];
        if (node.kind == XmlRecordNodes::Kind::kText) {
            text_.append(Nodes().Chars(node));
        } else if (node.kind == XmlRecordNodes::Kind::kElement) {
            if (!AppendNodeText(c, entity_text)) return false;
        } else {
            const std::string entity(Nodes().Chars(node));
            if (!AppendEntityText(reader_.Document(), reinterpret_cast<const xmlChar*>(entity.c_str()), text_, entity_text,
                                  refused_))
                return false;
        }
    }
    return true;
}

bool XmlCiiWriter::NodeText(Node element) {
    if (!refused_.empty()) return false;
    text_.clear();
    std::size_t entity_text = 0;
    if (!AppendNodeText(element, entity_text)) {
        refused_.insert(0, "line " + std::to_string(Nodes()[element].line) + ": ");
        return false;
    }
    const std::string_view t = Trimmed(text_);
    if (t.size() != text_.size()) {
        const std::size_t front = static_cast<std::size_t>(t.data() - text_.data());
        text_.resize(front + t.size());
        text_.erase(0, front);
    }
    return true;
}

void XmlCiiWriter::AppendLocal(std::string_view text, const RecordFormatItem& item, Bytes& out) {
    if (AppendAnsiBytes(text, out) != 0) {
        WriteErrorLog(log_, code::kNotLocalText, "項目№=" + std::to_string(item.項目No), 1);
    }
}

bool XmlCiiWriter::ConvertValue(const RecordFormatItem& item, const std::string& text) {
    value_.clear();
    const std::string& attribute = item.属性;
    if (attribute == "B") {
        // Two hexadecimal digits a byte. Empty is a value too.
        for (std::size_t i = 0; i < text.size(); i += 2) {
            const int hi = HexDigit(text[i]);
            const int lo = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
            if (hi < 0 || lo < 0) {
                WriteErrorLog(log_, code::kBadHexText, "項目№=" + std::to_string(item.項目No), 1);
                return false;
            }
            value_.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
        return true;
    }
    if (attribute == "9" || attribute == "N") {
        if (AllDigits(text)) {
            // Digits only, the usual value: its general form is the digits without leading zeros.
            const std::string_view digits = WithoutLeadingZeros(text);
            if (digits == "0") return false;
            value_.assign(digits.begin(), digits.end());
            return true;
        }
        const std::string number = GeneralNumberText(text);
        if (number == "0") return false;
        AppendAnsiBytes(number, value_);
    } else if (attribute == "Y") {
        const std::string date = DateWithCentury(text);
        const std::string number = GeneralNumberText(RightChars(date, item.長さ));
        if (number == "0" || number == "20000000") return false;
        AppendAnsiBytes(number, value_);
    } else if (attribute == "K") {
        // The parser has already decoded the document, so the value starts out in the local code.
        scratch_.clear();
        AppendLocal(text, item, scratch_);
        const char target = static_cast<char>(state_.header.SixteenBitCode());
        const char direction[2] = {'M', target};
        DoubleBytesToText(scratch_, std::string_view(direction, 2), value_);
    } else {
        AppendLocal(text, item, value_);
    }
    return !value_.empty();
}

std::int32_t XmlCiiWriter::FindElementItem(std::int32_t tag, Scope scope) {
    const ItemList& items = state_.message_items;
    if (!indexed_) {
        index_.Build(items);
        indexed_ = true;
    }
    // Among the members of the current group first, then anywhere in the list.
    const std::int32_t member = index_.FirstDataItem(scope.group_index, tag);
    return member != 0 ? member : index_.FirstDataItemAnywhere(tag);
}

std::int32_t XmlCiiWriter::FindGroupItem(std::string_view number, Scope scope, bool& unnumbered) const {
    const ItemList& items = state_.message_items;
    unnumbered = false;
    std::int32_t first_of_level = 0;
    for (std::int32_t i = scope.group_index + 1; i <= items.Count(); ++i) {
        const RecordFormatItem& item = items[i];
        if (item.レベル番号 < scope.level) break;
        if (item.レベル番号 != scope.level || !item.IsGroup()) continue;
        if (GroupNumberMatches(item.マルチ明細番号, number)) return i;
        if (first_of_level == 0) first_of_level = i;
    }
    // "JPM0" names a group read without a number: the first group of its level.
    if (IsZeroGroupNumber(number) && first_of_level != 0) {
        unnumbered = true;
        return first_of_level;
    }
    for (std::int32_t i = 1; i <= items.Count(); ++i)
        if (items[i].IsGroup() && GroupNumberMatches(items[i].マルチ明細番号, number)) return i;
    return 0;
}

bool XmlCiiWriter::Begin(xmlDocPtr doc) {
    TakeEncoding(doc != nullptr ? doc->encoding : nullptr);
    const std::string external = ExternalEntityOf(doc);
    if (external.empty()) return true;
    return Fail(code::kMalformedXml, name_ + ": the document declares the external entity " + external +
                                         ": refused, external entities are never loaded");
}

bool XmlCiiWriter::Record(Node record) {
    const bool ok = NodeName(record) == "JPMGH" ? ReadGroupHeader(record) : WriteMessage(record);
    if (!refused_.empty()) return Fail(code::kMalformedXml, name_ + " " + refused_);
    return ok;
}

bool XmlCiiWriter::Run(const std::string& name, const ByteView* document) {
    name_ = name;
    const XmlRecordReader::Result read = reader_.Read(name, document, *this);
    switch (read.status) {
        case XmlRecordReader::Status::kStopped:
            return false;
        case XmlRecordReader::Status::kCannotRead:
            return Fail(code::kCannotRead, read.text);
        case XmlRecordReader::Status::kMalformed:
            return Fail(code::kMalformedXml, read.text);
        case XmlRecordReader::Status::kRead:
            break;
    }
    return !group_open_ || WriteGroupEnd();
}

}  // namespace

std::string DateWithCentury(std::string_view text) {
    const std::size_t chars = Utf8CharCount(text);
    std::string date;
    date.reserve(text.size() + 8);
    if (chars <= 6) {
        const std::string six = std::string(6 - chars, '0').append(text);
        const std::string_view century = std::string_view(six).substr(0, 2);
        if (century >= "00" && century <= "50") {
            date = "20";
        } else if (century >= "51" && century <= "99") {
            date = "19";
        }
        return date.append(six);
    }
    return date.append(text);
}

std::string GeneralNumberText(std::string_view text) {
    std::size_t i = 0;
    auto skip_blanks = [&] {
        while (i < text.size() && IsBlank(text[i])) ++i;
    };
    skip_blanks();
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::string whole;
    std::string fraction;
    bool in_fraction = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t') continue;  // blanks between digits are skipped
        if (c == '.' && !in_fraction) {
            in_fraction = true;
        } else if (c >= '0' && c <= '9') {
            (in_fraction ? fraction : whole) += c;
        } else {
            break;
        }
    }
    std::string_view w = whole;
    while (!w.empty() && w.front() == '0') w.remove_prefix(1);
    std::string_view f = fraction;
    while (!f.empty() && f.back() == '0') f.remove_suffix(1);
    if (w.empty() && f.empty()) return "0";
    std::string out = negative ? "-" : "";
    out += w.empty() ? std::string_view("0") : w;
    if (!f.empty()) {
        out += '.';
        out += f;
    }
    return out;
}

bool XmlToCii(const std::filesystem::path& xml, ByteSink& cii, XmlCiiState& state, FormatMasterSource& masters,
              ConversionLog& log) {
    FileWarnings warnings(log);
    XmlCiiWriter writer(cii, state, masters, log);
    return writer.Run(xml.string(), nullptr);
}

bool XmlToCii(ByteView document, const std::string& name, ByteSink& cii, XmlCiiState& state,
              FormatMasterSource& masters, ConversionLog& log) {
    FileWarnings warnings(log);
    XmlCiiWriter writer(cii, state, masters, log);
    return writer.Run(name, &document);
}

bool XmlToCii(const std::filesystem::path& xml, const std::filesystem::path& cii, XmlCiiState& state,
              FormatMasterSource& masters, ConversionLog& log) {
    FileSink sink;
    std::string error;
    if (!sink.Open(cii, FileSink::Mode::kAppend, error)) {
        WriteErrorLog(log, code::kCannotWrite, error, 0);
        return false;
    }
    if (!XmlToCii(xml, sink, state, masters, log)) return false;  // the sink drops its temporary file
    if (!sink.Commit(error)) {
        WriteErrorLog(log, code::kCannotWrite, error, 0);
        return false;
    }
    return true;
}

}  // namespace edi
