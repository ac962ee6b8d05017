// CII to XML. The records are read as a stream through the shared CII readers and the document is
// written as it goes, byte for byte as libxml2's text writer writes it, into a temporary file
// beside the target. The
// document counts as saved at every group end record: when the input ends, whatever came after
// the last end record is cut off, the root element is closed and the file takes the target's
// name. A file without any end record leaves the target as it was.
//
// Layout: the declaration by the first group's XML文字コード ("M" Shift_JIS, "U" UTF-16, "S"
// ISO-2022-JP, anything else Shift_JIS), one root element "CII-" + BPID + 情報区分コード + "-V10"
// named after the first group, and in it every group's JPMGH followed by its JPTRM elements, in
// the order of the file. Groups are named "JPM" + マルチ明細番号 and their occurrences "JPM" +
// マルチ明細番号 + "R"; a group read while tags are one byte long is "JPM0" with "JPM0R".
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "convert/AttributeEdit.h"
#include "convert/CiiReader.h"
#include "convert/MessageItemIndex.h"
#include "convert/XmlCii.h"
#include "convert/XmlShiftJisText.h"
#include "convert/XmlSupport.h"
#include "convert/codec/FieldBytes.h"

namespace edi {
namespace {

namespace code = xml_cii_code;
inline constexpr std::int32_t kGeneralFailure = 9999;

const char* EncodingName(std::string_view xml_code) {
    if (xml_code == "U") return "UTF-16";
    if (xml_code == "S") return "ISO-2022-JP";
    return "Shift_JIS";
}

// An element name from header texts: characters a name cannot hold become "_".
std::string NameFrom(std::string_view text) {
    std::string name;
    for (const char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '_' || c == '.';
        name += ok ? c : '_';
    }
    return name;
}

// Characters XML 1.0 cannot carry (controls other than tab, CR and LF) become "?".
bool MakeXmlText(std::string& text) {
    bool replaced = false;
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && u != '\t' && u != '\r' && u != '\n') {
            c = '?';
            replaced = true;
        }
    }
    return replaced;
}

const char kHex[] = "0123456789ABCDEF";
const std::string kUnnumberedGroup = "JPM0";

// The temporary output: written as the document goes, cut back to the last saved point.
class DocumentFile {
public:
    ~DocumentFile() { Abandon(); }

    bool Open(const std::filesystem::path& target, std::string& error) {
        static std::atomic<unsigned> counter{0};
        target_ = target;
        temporary_ = target;
        temporary_ += "." + std::to_string(getpid()) + "-" + std::to_string(++counter) + ".tmp";
        file_ = std::fopen(temporary_.c_str(), "wb");
        if (file_ == nullptr) {
            error = temporary_.string() + ": " + std::strerror(errno);
            temporary_.clear();
            return false;
        }
        return true;
    }
    static int OnWrite(void* self, const char* data, int length) {
        auto* f = static_cast<DocumentFile*>(self);
        if (f->file_ == nullptr || f->failed_) return -1;
        if (std::fwrite(data, 1, static_cast<std::size_t>(length), f->file_) != static_cast<std::size_t>(length)) {
            f->failed_ = true;
            return -1;
        }
        f->written_ += static_cast<std::uint64_t>(length);
        return length;
    }
    static int OnClose(void*) { return 0; }

    void MarkSaved() { saved_ = written_; }
    bool HasSaved() const { return saved_ != 0; }
    bool Failed() const { return failed_; }

    // Cuts the file back to the last saved point, appends the closing bytes and renames it.
    bool Commit(const std::string& closing, std::string& error) {
        bool ok = !failed_ && std::fflush(file_) == 0 && ftruncate(fileno(file_), static_cast<off_t>(saved_)) == 0 &&
                  std::fseek(file_, 0, SEEK_END) == 0 &&
                  std::fwrite(closing.data(), 1, closing.size(), file_) == closing.size();
        ok = std::fclose(file_) == 0 && ok;
        file_ = nullptr;
        std::error_code ec;
        if (ok) std::filesystem::rename(temporary_, target_, ec);
        if (!ok || ec) {
            error = "cannot write " + target_.string();
            Abandon();
            return false;
        }
        temporary_.clear();
        return true;
    }
    void Abandon() {
        if (file_ != nullptr) std::fclose(file_);
        file_ = nullptr;
        if (!temporary_.empty()) {
            std::error_code ec;
            std::filesystem::remove(temporary_, ec);
            temporary_.clear();
        }
    }

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::FILE* file_ = nullptr;
    std::uint64_t written_ = 0;
    std::uint64_t saved_ = 0;
    bool failed_ = false;
};

// The document's bytes as libxml2's text writer writes them: a start tag stays open until what
// follows shows whether the element is empty ("/>") or not (">"); text is escaped as the writer
// escapes it. Shift_JIS documents are written straight in Shift_JIS; UTF-16 and ISO-2022-JP
// documents are written as UTF-8 into libxml2's output buffer, whose encoder converts them.
class XmlDocumentOut {
public:
    ~XmlDocumentOut() {
        if (buffer_ != nullptr) xmlOutputBufferClose(buffer_);
    }

    // false, with the reason, when the encoding has no encoder.
    bool Open(DocumentFile& file, const std::string& encoding, std::string& error) {
        file_ = &file;
        if (encoding == "Shift_JIS") {
            shift_jis_ = XmlShiftJisText::ForThisThread();
            if (shift_jis_ == nullptr) error = "no converter for " + encoding;
            return shift_jis_ != nullptr;
        }
        xmlCharEncodingHandlerPtr encoder = xmlFindCharEncodingHandler(encoding.c_str());
        if (encoder == nullptr) {
            error = "no converter for " + encoding;
            return false;
        }
        buffer_ = xmlOutputBufferCreateIO(&DocumentFile::OnWrite, &DocumentFile::OnClose, &file, encoder);
        if (buffer_ != nullptr) return true;
        xmlCharEncCloseFunc(encoder);
        error = "XML writer";
        return false;
    }

    void Raw(std::string_view text) {
        CloseStartTag();
        pending_ += text;
    }
    void StartElement(std::string_view name) {
        CloseStartTag();
        pending_ += '<';
        pending_ += name;
        open_.emplace_back(name);
        start_tag_open_ = true;
    }
    // Only while the start tag is open; the value needs no escaping (digits).
    void Attribute(std::string_view name, std::string_view value) {
        pending_ += ' ';
        pending_ += name;
        pending_ += "=\"";
        pending_ += value;
        pending_ += '"';
    }
    void EndElement() {
        if (start_tag_open_) {
            pending_ += "/>";
        } else {
            pending_ += "</";
            pending_ += open_.back();
            pending_ += '>';
        }
        open_.pop_back();
        start_tag_open_ = false;
    }
    // An element with its text, the tags given whole ("<JP00001>", "</JP00001>"); the text is code
    // page 932 bytes, or UTF-8 when cp932 is false. true when a control character became "?".
    bool TextElement(std::string_view start_tag, std::string_view end_tag, ByteView text, bool cp932) {
        CloseStartTag();
        pending_ += start_tag;
        bool replaced = false;
        if (shift_jis_ != nullptr) {
            replaced = cp932 ? shift_jis_->AppendCp932(text, pending_)
                             : shift_jis_->AppendUtf8(std::string_view(reinterpret_cast<const char*>(text.data()),
                                                                       text.size()),
                                                      pending_);
        } else {
            std::string utf8 = cp932 ? ToUnicodeText(text)
                                     : std::string(reinterpret_cast<const char*>(text.data()), text.size());
            replaced = MakeXmlText(utf8);
            AppendEscaped(utf8);
        }
        pending_ += end_tag;
        if (pending_.size() >= kPendingLimit && !Pass()) failed_ = true;
        return replaced;
    }
    // Everything written so far handed to the file.
    bool Flush() {
        if (failed_ || !Pass()) return false;
        return buffer_ == nullptr || xmlOutputBufferFlush(buffer_) >= 0;
    }
    bool Failed() const { return failed_; }

private:
    static constexpr std::size_t kPendingLimit = 64 * 1024;

    void CloseStartTag() {
        if (!start_tag_open_) return;
        pending_ += '>';
        start_tag_open_ = false;
    }
    // As xmlEncodeSpecialChars escapes element text.
    void AppendEscaped(std::string_view utf8) {
        for (const char c : utf8) {
            switch (c) {
                case '<':
                    pending_ += "&lt;";
                    break;
                case '>':
                    pending_ += "&gt;";
                    break;
                case '&':
                    pending_ += "&amp;";
                    break;
                case '"':
                    pending_ += "&quot;";
                    break;
                case '\r':
                    pending_ += "&#13;";
                    break;
                default:
                    pending_ += c;
            }
        }
    }
    // The pending bytes to the file, or to the encoder.
    bool Pass() {
        bool ok = true;
        if (!pending_.empty()) {
            const int length = static_cast<int>(pending_.size());
            ok = buffer_ != nullptr ? xmlOutputBufferWrite(buffer_, length, pending_.data()) >= 0
                                    : DocumentFile::OnWrite(file_, pending_.data(), length) == length;
        }
        pending_.clear();
        return ok;
    }

    DocumentFile* file_ = nullptr;
    XmlShiftJisText* shift_jis_ = nullptr;  // Shift_JIS written straight
    xmlOutputBufferPtr buffer_ = nullptr;   // any other encoding
    std::string pending_;
    std::vector<std::string> open_;
    bool start_tag_open_ = false;
    bool failed_ = false;
};

class CiiXmlWriter {
public:
    CiiXmlWriter(ChunkedInput& in, DocumentFile& out, XmlCiiState& state, FormatMasterSource& masters,
                 ConversionLog& log, const XmlErrorCollector& errors)
        : in_(in), stored_(in), out_(out), state_(state), masters_(masters), log_(log), errors_(errors) {
        value_.resize(65536);
    }

    // Reads the whole file; false when a failure ended it.
    bool Run();
    // The document's closing bytes in its encoding (ASCII text, so only UTF-16 differs).
    std::string Closing() const;
    bool Failed() const { return failed_; }

private:
    struct Level {
        std::int32_t group = 0;  // the group item whose members are read; 0 at the message's top
        std::int32_t start = 0;  // where the next item search starts
        std::string occurrence;  // the occurrence element's name; empty at the message's top
    };
    // What an item's elements need, worked out when the group's items are loaded.
    struct ItemPlan {
        enum class Text : std::uint8_t { kBytes, kDate, kHex, kDoubleBytes, kNone };
        Text text = Text::kNone;
        std::string start_tag;  // "<JP00001>"
        std::string end_tag;    // "</JP00001>"
        std::string group;      // "JPM" + マルチ明細番号 of a group item
    };
    bool Fail(std::int32_t failure, const std::string& text = "") {
        WriteErrorLog(log_, failure, text, 0);
        failed_ = true;
        return false;
    }
    bool Writer(bool written) {
        if (!written && !failed_) {
            Fail(code::kCannotWrite, out_.Failed() ? "" : errors_.HasError() ? errors_.First() : "XML writer");
        }
        return written;
    }
    bool Step();
    bool PassOver();  // two bytes of no known record kind; false when the run is too long
    bool ReadGroupHeader();
    void PlanItems();
    bool StartDocument();
    bool ReadMessage(std::int64_t budget, std::int64_t prefix_size, std::int32_t sequence);
    bool OpenGroup(GroupMatch match, std::int32_t number, bool two_byte);
    bool NextOccurrence();
    bool CloseGroup(bool move_on);
    bool DataElement(StoredCursor& cursor, std::int32_t tag, std::int64_t& budget, bool& ended);
    void Layout(std::size_t spaces);
    bool WriteValue(ByteView bytes, std::int32_t item);

    ChunkedInput& in_;
    CiiStoredReader stored_;
    DocumentFile& out_;
    XmlCiiState& state_;
    FormatMasterSource& masters_;
    ConversionLog& log_;
    const XmlErrorCollector& errors_;
    XmlDocumentOut xml_;
    std::string encoding_;
    std::string root_;
    bool have_header_ = false;
    bool writing_ = false;  // false for a message before any header: read and dropped
    bool failed_ = false;
    std::vector<Level> levels_;
    std::vector<ItemPlan> plans_;  // by message index
    MessageItemIndex index_;
    std::int64_t skipped_groups_ = 0;  // a group without master item and the groups inside it
    std::int64_t skipped_bytes_ = 0;   // bytes of unknown record kinds in a row
    Bytes value_;
    Bytes converted_;
    std::string text_;
};

bool CiiXmlWriter::Run() {
    while (Step()) {
    }
    if (!failed_ && in_.ReadFailed()) Fail(code::kCannotRead, "");
    return !failed_;
}

std::string CiiXmlWriter::Closing() const {
    const std::string ascii = "\r\n</" + root_ + ">\r\n";
    if (encoding_ != "UTF-16") return ascii;
    std::string utf16;
    for (const char c : ascii) {
        utf16 += c;
        utf16 += '\0';
    }
    return utf16;
}

bool CiiXmlWriter::Step() {
    std::uint8_t kind[2];
    std::int32_t count = 2;
    if (ReadBytesCounted(in_, kind, count)) return false;
    const CiiRecordKind record_kind = ClassifyRecordKind(kind[0], kind[1]);
    if (record_kind == CiiRecordKind::kGroupHeader || record_kind == CiiRecordKind::kGroupEnd ||
        record_kind == CiiRecordKind::kData) {
        skipped_bytes_ = 0;
    }
    switch (record_kind) {
        case CiiRecordKind::kGroupHeader:
            return ReadGroupHeader();
        case CiiRecordKind::kGroupEnd: {
            if (have_header_) xml_.Raw("\r\n");
            std::int32_t body = static_cast<std::int32_t>(kCiiControlBodySize);
            if (ReadBytesCounted(in_, nullptr, body)) return Fail(code::kTruncated);
            // The document as it stands is saved: flushed, and the point remembered.
            if (have_header_) {
                if (!Writer(xml_.Flush())) return false;
                out_.MarkSaved();
            }
            return true;
        }
        case CiiRecordKind::kOtherControl:
            return PassOver();
        case CiiRecordKind::kDigitNotData:
        case CiiRecordKind::kUnknown:
            WriteErrorLog(log_, code::kBadRecordKind, "", 1);
            return PassOver();
        case CiiRecordKind::kData:
            break;
    }
    if (state_.header.StorageFlagsAre("20")) {
        std::int32_t body = static_cast<std::int32_t>(kCiiControlBodySize);
        if (ReadBytesCounted(in_, nullptr, body)) return Fail(code::kTruncated);
        return true;
    }
    std::uint8_t prefix[15];
    std::int32_t short_count = 7;
    std::int32_t long_count = 8;
    const bool long_form = !ReadBytesCounted(in_, prefix, short_count) && prefix[5] == 0x80 && prefix[6] == 0x80;
    if (short_count != 0 || (long_form && ReadBytesCounted(in_, prefix + 7, long_count))) {
        return Fail(code::kTruncated);
    }
    CiiDataPrefix decoded;
    DecodeDataPrefix(ByteView(prefix, long_form ? 15 : 7), decoded);
    return ReadMessage(std::int64_t{decoded.length} + 1, static_cast<std::int64_t>(decoded.size),
                       decoded.message_number);
}

bool CiiXmlWriter::PassOver() {
    skipped_bytes_ += 2;
    if (skipped_bytes_ <= kMaxSkippedBytes) return true;
    return Fail(code::kNoRecord, NoRecordText(in_.Offset() - static_cast<std::uint64_t>(skipped_bytes_)));
}

bool CiiXmlWriter::ReadGroupHeader() {
    CiiGroupHeader& header = state_.header;
    std::int32_t count = static_cast<std::int32_t>(kCiiControlBodySize);
    if (ReadBytesCounted(in_, header.body.data(), count)) return Fail(code::kTruncated);
    const std::string bpid = header.Bpid();
    const std::string info_kind = header.InfoKind();
    // Missing rows are logged as the bare code; a database failure with what went wrong.
    const auto failed = [this](const LoadResult& r, std::int32_t no_rows_code) {
        return r.status == LoadStatus::kNoRows ? Fail(no_rows_code) : Fail(kGeneralFailure, r.Describe());
    };
    LoadResult r = masters_.LoadFormatInfo(info_kind, bpid, state_.format);
    if (!r.Ok()) return failed(r, code::kNoFormatInfo);
    r = masters_.LoadMessageItems(info_kind, bpid, state_.message_items);
    if (!r.Ok()) return failed(r, code::kNoMessageItems);
    PlanItems();
    stored_.SetStorageMode(header.StorageMode());
    state_.encoding_letter = "M";
    if (!have_header_) {
        root_ = NameFrom("CII-" + bpid + info_kind + "-V10");
        if (!StartDocument()) return false;
        have_header_ = true;
    }
    xml_.Raw("\r\n");
    xml_.StartElement("JPMGH");
    for (const CiiHeaderElement& element : kCiiHeaderElements) {
        ByteView field = header.Field(element.offset, element.length);
        if (!element.character_code) {
            while (!field.empty() && field.back() == ' ') field = field.first(field.size() - 1);
        }
        xml_.Raw("\r\n");
        text_ = "<" + std::string(element.element) + ">";
        const std::string end_tag = "</" + std::string(element.element) + ">";
        xml_.TextElement(text_, end_tag, field, true);
    }
    xml_.EndElement();
    return Writer(!xml_.Failed());
}

void CiiXmlWriter::PlanItems() {
    const ItemList& items = state_.message_items;
    plans_.assign(static_cast<std::size_t>(items.Count()) + 1, ItemPlan{});
    for (std::int32_t i = 1; i <= items.Count(); ++i) {
        const RecordFormatItem& item = items[i];
        ItemPlan& plan = plans_[static_cast<std::size_t>(i)];
        const std::string& a = item.属性;
        plan.text = a == "9" || a == "X" || a == "N" ? ItemPlan::Text::kBytes
                    : a == "Y"                       ? ItemPlan::Text::kDate
                    : a == "B"                       ? ItemPlan::Text::kHex
                    : a == "K"                       ? ItemPlan::Text::kDoubleBytes
                                                     : ItemPlan::Text::kNone;
        char number[16];
        std::snprintf(number, sizeof number, "JP%05d", item.項目No);
        plan.start_tag = std::string("<") + number + ">";
        plan.end_tag = std::string("</") + number + ">";
        plan.group = "JPM" + NameFrom(item.マルチ明細番号);
    }
    index_.Build(items);
}

bool CiiXmlWriter::StartDocument() {
    encoding_ = EncodingName(state_.format.XML文字コード);
    // Documents are written in plain Shift_JIS, so that any reader takes them: characters that only
    // code page 932 holds (①, the wave dash as 0x8160) go out as character references.
    std::string error;
    if (!xml_.Open(out_, encoding_, error)) return Fail(code::kCannotWrite, error);
    // The declaration as text, naming the encoding (not the converter that serves it).
    xml_.Raw("<?xml version=\"1.0\" encoding=\"" + encoding_ + "\"?>\r\n");
    xml_.StartElement(root_);
    return true;
}

void CiiXmlWriter::Layout(std::size_t spaces) {
    static const std::string kLayout = "\r\n" + std::string(64, ' ');
    xml_.Raw(std::string_view(kLayout).substr(0, 2 + std::min<std::size_t>(spaces, 64)));
}

bool CiiXmlWriter::ReadMessage(std::int64_t budget, std::int64_t prefix_size, std::int32_t sequence) {
    const std::uint8_t mode = state_.header.StorageMode();
    if (mode == 'S') {
        stored_.SetBlockCounter(static_cast<std::int32_t>(32001 - prefix_size));
    } else if (mode == ' ' || mode == 'M') {
        stored_.SetBlockCounter(static_cast<std::int32_t>(251 - prefix_size));
    }
    // Messages before any header have no masters and no document: they are read and dropped.
    writing_ = have_header_;
    if (writing_) {
        char number[16];
        const auto digits = static_cast<std::size_t>(std::snprintf(number, sizeof number, "%d", sequence));
        xml_.Raw("\r\n");
        xml_.StartElement("JPTRM");
        xml_.Attribute("SEQ", std::string_view(number, digits));
    }
    levels_.assign(1, Level{});
    skipped_groups_ = 0;
    std::int64_t remaining = budget - prefix_size;
    bool two_byte = false;
    bool ended = false;
    StoredCursor cursor(stored_);
    auto next = [&cursor, &remaining](std::uint8_t& b) {
        if (!cursor.Byte(b)) return false;
        --remaining;
        return true;
    };
    std::uint8_t b = 0;
    std::uint8_t b1 = 0;
    std::uint8_t b2 = 0;
    while (!ended && !failed_ && next(b)) {
        bool ok = true;
        if (b == kCiiMessageEnd) {
            ended = true;
        } else if (b == kCiiOccurrenceEnd) {
            ok = NextOccurrence();
        } else if (b == kCiiGroupEnd) {
            ok = CloseGroup(!two_byte);
        } else if (!two_byte) {
            if (b <= 239) {
                ok = DataElement(cursor, b, remaining, ended);
            } else if (b == kCiiTwoByteTags) {
                two_byte = true;
            } else if (b == kCiiGroupStart) {
                ok = OpenGroup(GroupMatch::kFirst, 0, false);
            }  // 0xFD and 0xF1-0xF9, 0xFF mean nothing here
        } else if (b <= 239) {
            if (!next(b1)) break;
            ok = DataElement(cursor, b * 256 + b1, remaining, ended);
        } else if (b >= 0xF1 && b <= 0xF7) {
            if (!next(b1) || !next(b2)) break;
            ok = DataElement(cursor, (b - 0xF0) * 65536 + b1 * 256 + b2, remaining, ended);
        } else if (b == kCiiGroupStart) {
            if (!next(b1)) break;
            ok = OpenGroup(GroupMatch::kCharacter, b1, true);
        } else if (b == kCiiNumberedGroupStart) {
            if (!next(b1) || !next(b2)) break;
            ok = OpenGroup(GroupMatch::kNumber, b1 * 256 + b2, true);
        } else if (b == 0xF9) {
            if (!next(b1)) break;
        }  // 0xF0, 0xF8 and 0xFF mean nothing here
        if (!ok) return false;
    }
    cursor.Sync();
    // A message cut off by the end of the file is left open; nothing after the last end record
    // is kept, so it never reaches the saved document.
    if (!ended) return !failed_;
    if (writing_) {
        skipped_groups_ = 0;
        while (levels_.size() > 1) {
            if (!CloseGroup(false)) return false;
        }
        xml_.Raw("\r\n");
        xml_.EndElement();
        if (!Writer(!xml_.Failed())) return false;
    }
    // The padding of a 251-byte storage block is read away; in mode "S" the next record follows.
    if (StorageBlocksPadded(mode) && stored_.BlockCounter() > 0) {
        std::int32_t left = stored_.BlockCounter();
        stored_.SetBlockCounter(0);
        if (ReadBytesCounted(in_, nullptr, left)) return Fail(code::kTruncated);
    }
    return true;
}

bool CiiXmlWriter::OpenGroup(GroupMatch match, std::int32_t number, bool two_byte) {
    if (!writing_) return true;
    if (skipped_groups_ > 0) {
        ++skipped_groups_;
        return true;
    }
    Level& outer = levels_.back();
    std::int32_t found = outer.start;
    if (!index_.FindGroup(outer.group, found, match, number)) {
        // Without its master item the group is read through and left out, members and all.
        WriteErrorLog(log_, code::kUnknownGroup, "JPM" + std::to_string(number), 1);
        skipped_groups_ = 1;
        return true;
    }
    outer.start = found;
    const std::string& group = two_byte ? plans_[static_cast<std::size_t>(found)].group : kUnnumberedGroup;
    const std::size_t depth = levels_.size();  // of the group element inside the message
    Level inner;
    inner.group = found;
    inner.start = found + 1;
    inner.occurrence = group + "R";
    Layout(4 * depth - 2);
    xml_.StartElement(group);
    Layout(4 * (depth + 1) - 2);
    xml_.StartElement(inner.occurrence);
    levels_.push_back(std::move(inner));
    return true;
}

bool CiiXmlWriter::NextOccurrence() {
    if (!writing_ || skipped_groups_ > 0 || levels_.size() < 2) return true;
    Level& current = levels_.back();
    const std::size_t depth = levels_.size();
    xml_.EndElement();
    Layout(4 * depth - 2);
    xml_.StartElement(current.occurrence);
    // Every occurrence holds the same members: the search starts again after the group item.
    current.start = current.group + 1;
    return true;
}

bool CiiXmlWriter::CloseGroup(bool move_on) {
    if (!writing_) return true;
    if (skipped_groups_ > 0) {
        --skipped_groups_;
        return true;
    }
    if (levels_.size() < 2) return true;
    levels_.pop_back();
    // While tags are one byte long the next group marker names no group: the search for the
    // first group of the level goes on after this one.
    if (move_on) ++levels_.back().start;
    xml_.EndElement();
    xml_.EndElement();
    return true;
}

bool CiiXmlWriter::DataElement(StoredCursor& cursor, std::int32_t tag, std::int64_t& remaining, bool& ended) {
    std::int32_t length = 0;
    if (!cursor.ElementLength(remaining, length, log_)) {
        ended = false;
        return true;  // the file ended: the loop stops at the next read
    }
    ByteView value;
    if (!cursor.Bytes(static_cast<std::size_t>(length), value_.data(), value)) return true;
    remaining -= length;
    if (!writing_ || skipped_groups_ > 0) return true;
    Level& level = levels_.back();
    std::int32_t found = level.start;
    if (!index_.FindByTag(level.group, found, tag)) {
        WriteErrorLog(log_, code::kUnknownElement, "JP" + std::to_string(tag), 1);
        return true;
    }
    level.start = found;
    Layout(4 * levels_.size());
    return WriteValue(value, found);
}

// The element of a value, its text by the item's 属性 (CiiValueToText).
bool CiiXmlWriter::WriteValue(ByteView bytes, std::int32_t item) {
    const ItemPlan& plan = plans_[static_cast<std::size_t>(item)];
    ByteView text = bytes;
    bool cp932 = true;
    switch (plan.text) {
        case ItemPlan::Text::kBytes:
            break;
        case ItemPlan::Text::kDate:
            text_ = DateWithCentury(BytesToText(bytes));
            text = ByteView(reinterpret_cast<const std::uint8_t*>(text_.data()), text_.size());
            cp932 = false;
            break;
        case ItemPlan::Text::kHex:
            text_.clear();
            for (const std::uint8_t b : bytes) {
                text_ += kHex[b >> 4];
                text_ += kHex[b & 0x0F];
            }
            text = ByteView(reinterpret_cast<const std::uint8_t*>(text_.data()), text_.size());
            break;
        case ItemPlan::Text::kDoubleBytes: {
            const char direction[2] = {static_cast<char>(state_.header.SixteenBitCode()), 'M'};
            DoubleBytesToText(bytes, std::string_view(direction, 2), converted_);
            text = converted_;
            break;
        }
        case ItemPlan::Text::kNone:
            text = {};
            break;
    }
    if (xml_.TextElement(plan.start_tag, plan.end_tag, text, cp932)) {
        WriteErrorLog(log_, code::kNotXmlText, "JP" + std::to_string(state_.message_items[item].項目No), 1);
    }
    return Writer(!xml_.Failed());
}

}  // namespace

bool CiiToXml(const std::filesystem::path& cii, const std::filesystem::path& xml, XmlCiiState& state,
              FormatMasterSource& masters, ConversionLog& log) {
    EnsureXmlLibrary();
    FileWarnings warnings(log);
    ChunkedInput in;
    std::string error;
    if (!in.Open(cii, error)) {
        WriteErrorLog(log, code::kCannotRead, cii.string() + ": " + std::strerror(errno), 0);
        return false;
    }
    DocumentFile out;
    if (!out.Open(xml, error)) {
        WriteErrorLog(log, code::kCannotWrite, error, 0);
        return false;
    }
    bool ok = false;
    std::string closing;
    {
        XmlErrorCollector errors;
        {
            CiiXmlWriter writer(in, out, state, masters, log, errors);
            ok = writer.Run();
            closing = writer.Closing();
        }  // the document writer is freed here; what it still held lies after the saved point
        // An error libxml2 reported along the way fails the conversion even when writing went on.
        if (ok && errors.HasError()) {
            WriteErrorLog(log, code::kCannotWrite, xml.string() + ": " + errors.First(), 0);
            ok = false;
        }
    }
    if (!out.HasSaved()) {
        out.Abandon();
        if (ok) WriteErrorLog(log, code::kNoGroupEnd, cii.string(), 1);
        return ok;
    }
    if (!out.Commit(closing, error)) {
        WriteErrorLog(log, code::kCannotWrite, error, 0);
        return false;
    }
    return ok;
}

}  // namespace edi
