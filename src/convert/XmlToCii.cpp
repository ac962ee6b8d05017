// XML to CII: libxml2's push parser reads the document in small chunks and hands its elements to
// this writer, which keeps only the JPMGH or JPTRM elements being read (XmlRecordNodes) and
// encodes each one once the chunk that completes it has been parsed without error.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <libxml/SAX2.h>
#include <libxml/parser.h>

#include "convert/AttributeEdit.h"
#include "convert/MessageItemIndex.h"
#include "convert/XmlCii.h"
#include "convert/XmlRecord.h"
#include "convert/XmlSupport.h"

namespace edi {
namespace {

namespace code = xml_cii_code;
constexpr std::size_t kChunk = 512;  // bytes a push
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

class XmlCiiWriter {
public:
    XmlCiiWriter(ByteSink& sink, XmlCiiState& state, FormatMasterSource& masters, ConversionLog& log)
        : sink_(sink), state_(state), masters_(masters), log_(log), message_(log) {}

    // Reads the document from the file, or from memory when document is given; name is the
    // document's name in the log.
    bool Run(const std::string& name, const ByteView* document);

private:
    using Node = XmlRecordNodes::Index;
    static constexpr Node kNone = XmlRecordNodes::kNone;
    std::string_view NodeName(Node node) const { return nodes_.Chars(nodes_[node]); }
    // Pushes one chunk to the parser, then converts the records it completed; false when the
    // conversion ends here (failure_ says whether it failed).
    bool Push(const char* bytes, std::size_t size, bool last);
    bool ConvertRecords(bool all);
    static void OnStartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri,
                               int nb_namespaces, const xmlChar** namespaces, int nb_attributes, int nb_defaulted,
                               const xmlChar** attributes);
    static void OnEndElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri);
    static void OnCharacters(void* ctx, const xmlChar* text, int length);
    static void OnCdata(void* ctx, const xmlChar* text, int length);
    static void OnReference(void* ctx, const xmlChar* name);
    static void OnComment(void* ctx, const xmlChar* text);
    static void OnInstruction(void* ctx, const xmlChar* target, const xmlChar* data);
    // The writer when the callback comes from the document itself; null inside an entity's
    // content, which libxml2 parses on a context of its own and which is built as its nodes.
    static XmlCiiWriter* Of(void* ctx);
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
    xmlParserCtxtPtr parser_ = nullptr;
    XmlErrorCollector* errors_ = nullptr;
    std::string name_;
    XmlRecordNodes nodes_;
    // Records closed and not yet converted; the first `followed_` of them have something after
    // them in the document, which is when libxml2's reader hands a record out.
    std::vector<Node> completed_;
    std::size_t followed_ = 0;
    void Followed() { followed_ = completed_.size(); }
    bool root_seen_ = false;
    bool first_node_taken_ = false;
    bool element_started_ = false;  // in the chunk being parsed, also inside an entity
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
    for (Node c = nodes_.FirstElement(element); c != kNone; c = nodes_.NextElement(c)) {
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
    for (Node c = nodes_.FirstElement(parent); c != kNone; c = nodes_.NextElement(c)) {
        const std::string_view name = NodeName(c);
        if (name.starts_with("JPM")) {
            if (name.ends_with("R")) {
                // One occurrence: its members, then 0xFB when another occurrence follows.
                WalkChildren(c, scope);
                if (nodes_.NextElement(c) != kNone) message_.AppendMarker(kCiiOccurrenceEnd);
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
    for (Node c = nodes_[parent].first_child; c != kNone; c = nodes_[c].next) {
        const XmlRecordNodes::Node& node = nodes_[c];
        if (node.kind == XmlRecordNodes::Kind::kText) {
            text_.append(nodes_.Chars(node));
        } else if (node.kind == XmlRecordNodes::Kind::kElement) {
            if (!AppendNodeText(c, entity_text)) return false;
        } else {
            const std::string entity(nodes_.Chars(node));
            if (!AppendEntityText(parser_->myDoc, reinterpret_cast<const xmlChar*>(entity.c_str()), text_, entity_text,
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
        refused_.insert(0, "line " + std::to_string(nodes_[element].line) + ": ");
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

XmlCiiWriter* XmlCiiWriter::Of(void* ctx) {
    auto* parser = static_cast<xmlParserCtxtPtr>(ctx);
    auto* writer = static_cast<XmlCiiWriter*>(parser->_private);
    return writer != nullptr && writer->parser_ == parser ? writer : nullptr;
}

void XmlCiiWriter::OnStartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri,
                                  int nb_namespaces, const xmlChar** namespaces, int nb_attributes,
                                  int nb_defaulted, const xmlChar** attributes) {
    if (auto* writer = static_cast<XmlCiiWriter*>(static_cast<xmlParserCtxtPtr>(ctx)->_private))
        writer->element_started_ = true;
    XmlCiiWriter* self = Of(ctx);
    if (self == nullptr) {
        xmlSAX2StartElementNs(ctx, localname, prefix, uri, nb_namespaces, namespaces, nb_attributes, nb_defaulted,
                              attributes);
        return;
    }
    self->root_seen_ = true;
    self->Followed();
    const std::string_view name(reinterpret_cast<const char*>(localname));
    if (!self->nodes_.InRecord() && name != "JPMGH" && name != "JPTRM") return;
    // An element keeps the line of its start tag up to 65535, as libxml2's nodes do.
    const xmlParserInputPtr input = self->parser_->input;
    self->nodes_.StartElement(name, input != nullptr ? std::min(input->line, 65535) : 0);
}

void XmlCiiWriter::OnEndElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri) {
    XmlCiiWriter* self = Of(ctx);
    if (self == nullptr) {
        xmlSAX2EndElementNs(ctx, localname, prefix, uri);
    } else if (self->nodes_.InRecord()) {
        const Node record = self->nodes_.EndElement();
        if (record != kNone) self->completed_.push_back(record);
    }
}

void XmlCiiWriter::OnCharacters(void* ctx, const xmlChar* text, int length) {
    XmlCiiWriter* self = Of(ctx);
    if (self == nullptr) {
        xmlSAX2Characters(ctx, text, length);
    } else {
        self->Followed();
        self->nodes_.AddText(std::string_view(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length)));
    }
}

void XmlCiiWriter::OnCdata(void* ctx, const xmlChar* text, int length) {
    XmlCiiWriter* self = Of(ctx);
    if (self == nullptr) {
        xmlSAX2CDataBlock(ctx, text, length);
    } else {
        self->Followed();
        self->nodes_.AddText(std::string_view(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length)));
    }
}

void XmlCiiWriter::OnReference(void* ctx, const xmlChar* name) {
    XmlCiiWriter* self = Of(ctx);
    if (self == nullptr) {
        xmlSAX2Reference(ctx, name);
    } else {
        self->Followed();
        self->nodes_.AddEntity(reinterpret_cast<const char*>(name));
    }
}

// Comments and processing instructions carry no text; inside an entity they are built as libxml2
// builds them, so that the entity's nodes are what they always were.
void XmlCiiWriter::OnComment(void* ctx, const xmlChar* text) {
    if (XmlCiiWriter* self = Of(ctx)) {
        self->Followed();
    } else {
        xmlSAX2Comment(ctx, text);
    }
}

void XmlCiiWriter::OnInstruction(void* ctx, const xmlChar* target, const xmlChar* data) {
    if (XmlCiiWriter* self = Of(ctx)) {
        self->Followed();
    } else {
        xmlSAX2ProcessingInstruction(ctx, target, data);
    }
}

// At the end of the document every record is handed out; before, only those followed by something.
bool XmlCiiWriter::ConvertRecords(bool all) {
    const std::size_t ready = all ? completed_.size() : followed_;
    for (std::size_t i = 0; i < ready; ++i) {
        const Node record = completed_[i];
        const bool ok = NodeName(record) == "JPMGH" ? ReadGroupHeader(record) : WriteMessage(record);
        if (!refused_.empty()) return Fail(code::kMalformedXml, name_ + " " + refused_);
        if (!ok) return false;
    }
    completed_.erase(completed_.begin(), completed_.begin() + static_cast<std::ptrdiff_t>(ready));
    followed_ = 0;
    const Node moved = nodes_.DropBefore(completed_.empty() ? kNone : completed_.front());
    for (Node& record : completed_) record -= moved;
    return true;
}

bool XmlCiiWriter::Push(const char* bytes, std::size_t size, bool last) {
    element_started_ = false;
    const int status = xmlParseChunk(parser_, bytes, static_cast<int>(size), last ? 1 : 0);
    if (status != 0 || parser_->wellFormed == 0) {
        return Fail(code::kMalformedXml,
                    name_ + " " + (errors_->HasError() ? errors_->First() : std::string("cannot be parsed")));
    }
    // The reader goes on with the next chunk until one starts an element or the input runs short.
    if (!last && size == kChunk && !element_started_) return true;
    if (root_seen_ && !first_node_taken_) {
        // What the document says of itself is known once its root element has begun.
        first_node_taken_ = true;
        xmlDocPtr doc = parser_->myDoc;
        TakeEncoding(doc != nullptr ? doc->encoding : nullptr);
        const std::string external = ExternalEntityOf(doc);
        if (!external.empty()) {
            return Fail(code::kMalformedXml, name_ + ": the document declares the external entity " + external +
                                                 ": refused, external entities are never loaded");
        }
    }
    return ConvertRecords(last);
}

bool XmlCiiWriter::Run(const std::string& name, const ByteView* document) {
    EnsureXmlLibrary();
    XmlErrorCollector errors;
    errors_ = &errors;
    name_ = name;
    std::unique_ptr<xmlParserInputBuffer, void (*)(xmlParserInputBufferPtr)> input(nullptr,
                                                                                    &xmlFreeParserInputBuffer);
    std::string buffer;  // the file's bytes read but not yet pushed
    bool end_of_file = false;
    auto read = [&](std::size_t size) {
        const std::size_t old = buffer.size();
        buffer.resize(old + size);
        const int got = input->readcallback(input->context, buffer.data() + old, static_cast<int>(size));
        buffer.resize(old + static_cast<std::size_t>(std::max(got, 0)));
        if (got <= 0) end_of_file = true;
    };
    // The document is pushed as libxml2's own reader pushes it: the first four bytes make the
    // parser (the encoding is guessed from them), then 512 bytes at a time, the file read 4096
    // bytes at a time whenever less than that is left; what is left at the end goes with the
    // last push. A record is converted only when its chunk parsed without error, so a damaged
    // document logs what it always logged.
    constexpr std::size_t kRead = 4096;
    const char* bytes = nullptr;
    std::size_t size = 0;
    if (document != nullptr) {
        bytes = reinterpret_cast<const char*>(document->data());
        size = std::min<std::size_t>(document->size(), INT32_MAX);
    } else {
        // A missing file would only be reported as a generic I/O error; say what is wrong.
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> probe(std::fopen(name.c_str(), "rb"), &std::fclose);
        if (!probe) return Fail(code::kCannotRead, name + ": " + std::strerror(errno));
        input.reset(xmlParserInputBufferCreateFilename(name.c_str(), XML_CHAR_ENCODING_NONE));
        if (!input || input->readcallback == nullptr) return Fail(code::kCannotRead, name);
        read(4);
        bytes = buffer.data();
        size = buffer.size();
    }
    const std::size_t head = size >= 4 ? 4 : 0;
    xmlSAXHandler handler;
    xmlSAXVersion(&handler, 2);
    handler.startElementNs = &OnStartElement;
    handler.endElementNs = &OnEndElement;
    handler.characters = &OnCharacters;
    handler.ignorableWhitespace = &OnCharacters;
    handler.cdataBlock = &OnCdata;
    handler.reference = &OnReference;
    handler.comment = &OnComment;
    handler.processingInstruction = &OnInstruction;
    struct ParserFree {
        void operator()(xmlParserCtxtPtr parser) const {
            if (parser->myDoc != nullptr) xmlFreeDoc(parser->myDoc);
            xmlFreeParserCtxt(parser);
        }
    };
    std::unique_ptr<xmlParserCtxt, ParserFree> parser(
        xmlCreatePushParserCtxt(&handler, nullptr, head != 0 ? bytes : nullptr, static_cast<int>(head), name.c_str()));
    if (!parser) return Fail(code::kCannotRead, name);
    parser_ = parser.get();
    parser_->_private = this;
    xmlCtxtUseOptions(parser_, XML_PARSE_NONET | XML_PARSE_COMPACT);
    parser_->linenumbers = 1;
    parser_->dictNames = 1;
    errors.Attach(parser_);

    bool pushed_all = false;
    if (document != nullptr) {
        // Bytes in memory: the rest after the last whole chunk goes alone, then one empty push
        // before the last (it can move where the parser reports trailing garbage).
        std::size_t at = head;
        for (; at < size; at += kChunk)
            if (!Push(bytes + at, std::min(kChunk, size - at), false)) return false;
        pushed_all = Push(bytes + size, 0, false) && Push(bytes + size, 0, true);
    } else {
        std::size_t at = head;
        for (;;) {
            if (buffer.size() - at < kChunk) {
                buffer.erase(0, at);
                at = 0;
                read(kRead);
                if (end_of_file) break;
            }
            const std::size_t n = std::min(kChunk, buffer.size() - at);
            if (!Push(buffer.data() + at, n, false)) return false;
            at += n;
        }
        pushed_all = Push(buffer.data() + at, buffer.size() - at, true);
    }
    if (!pushed_all) return false;
    if (errors.HasError()) return Fail(code::kMalformedXml, name + " " + errors.First());
    if (group_open_ && !WriteGroupEnd()) return false;
    return true;
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
