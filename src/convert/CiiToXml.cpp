// CII to XML. The records are read as a stream through the shared CII readers and the document is
// written as it goes with libxml2's text writer into a temporary file beside the target. The
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
#include "convert/XmlCii.h"
#include "convert/XmlSupport.h"
#include "convert/codec/FieldBytes.h"

namespace edi {
namespace {

namespace code = xml_cii_code;
inline constexpr std::int32_t kGeneralFailure = 9999;

// The iconv name of plain Shift_JIS, which the reading side's code page 932 alias leaves alone.
inline constexpr const char* kPlainShiftJis = "SHIFT-JIS";

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

// The temporary output: written through the text writer, cut back to the last saved point.
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
        std::int32_t start = 0;  // where the next item search starts
        std::string occurrence;  // the occurrence element's name; empty at the message's top
    };
    bool Fail(std::int32_t failure, const std::string& text = "") {
        WriteErrorLog(log_, failure, text, 0);
        failed_ = true;
        return false;
    }
    bool Writer(int result) {
        if (result < 0 && !failed_) {
            Fail(code::kCannotWrite, out_.Failed() ? "" : errors_.HasError() ? errors_.First() : "XML writer");
        }
        return result >= 0;
    }
    bool Step();
    bool PassOver();  // two bytes of no known record kind; false when the run is too long
    bool ReadGroupHeader();
    bool StartDocument();
    bool ReadMessage(std::int64_t budget, std::int64_t prefix_size, std::int32_t sequence);
    bool OpenGroup(GroupMatch match, std::int32_t number, bool two_byte);
    bool NextOccurrence();
    bool CloseGroup(bool move_on);
    bool DataElement(std::int32_t tag, std::int64_t& budget, bool& ended);
    bool Layout(std::size_t spaces);
    void CiiValueToText(ByteView bytes, const RecordFormatItem& item, std::string& text);
    bool Text(const char* s) { return Writer(xmlTextWriterWriteRaw(writer_.get(), BAD_CAST s)); }

    ChunkedInput& in_;
    CiiStoredReader stored_;
    DocumentFile& out_;
    XmlCiiState& state_;
    FormatMasterSource& masters_;
    ConversionLog& log_;
    const XmlErrorCollector& errors_;
    XmlWriterPtr writer_;
    std::string encoding_;
    std::string root_;
    bool have_header_ = false;
    bool writing_ = false;  // false for a message before any header: read and dropped
    bool failed_ = false;
    std::vector<Level> levels_;
    std::int64_t skipped_groups_ = 0;  // a group without master item and the groups inside it
    std::int64_t skipped_bytes_ = 0;   // bytes of unknown record kinds in a row
    Bytes value_;
    Bytes converted_;
    std::string text_;
    std::string name_;
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
            if (have_header_ && !Text("\r\n")) return false;
            std::int32_t body = static_cast<std::int32_t>(kCiiControlBodySize);
            if (ReadBytesCounted(in_, nullptr, body)) return Fail(code::kTruncated);
            // The document as it stands is saved: flushed, and the point remembered.
            if (have_header_) {
                if (!Writer(xmlTextWriterFlush(writer_.get()))) return false;
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
    stored_.SetStorageMode(header.StorageMode());
    state_.encoding_letter = "M";
    if (!have_header_) {
        root_ = NameFrom("CII-" + bpid + info_kind + "-V10");
        if (!StartDocument()) return false;
        have_header_ = true;
    }
    if (!Text("\r\n") || !Writer(xmlTextWriterStartElement(writer_.get(), BAD_CAST "JPMGH"))) return false;
    for (const CiiHeaderElement& element : kCiiHeaderElements) {
        text_ = header.ElementText(element);
        MakeXmlText(text_);
        name_.assign(element.element);
        if (!Text("\r\n") ||
            !Writer(xmlTextWriterWriteElement(writer_.get(), BAD_CAST name_.c_str(), BAD_CAST text_.c_str()))) {
            return false;
        }
    }
    return Writer(xmlTextWriterEndElement(writer_.get()));
}

bool CiiXmlWriter::StartDocument() {
    encoding_ = EncodingName(state_.format.XML文字コード);
    // Documents are written in plain Shift_JIS, so that any reader takes them: characters that only
    // code page 932 holds (①, the wave dash as 0x8160) go out as character references.
    xmlCharEncodingHandlerPtr encoder =
        xmlFindCharEncodingHandler(encoding_ == "Shift_JIS" ? kPlainShiftJis : encoding_.c_str());
    if (encoder == nullptr) return Fail(code::kCannotWrite, "no converter for " + encoding_);
    xmlOutputBufferPtr buffer = xmlOutputBufferCreateIO(&DocumentFile::OnWrite, &DocumentFile::OnClose, &out_, encoder);
    if (buffer == nullptr) return Fail(code::kCannotWrite, "XML writer");
    writer_.reset(xmlNewTextWriter(buffer));  // owns the buffer from here on
    if (!writer_) {
        xmlOutputBufferClose(buffer);
        return Fail(code::kCannotWrite, "XML writer");
    }
    // The declaration is written as text: the writer's own would name the converter ("CP932")
    // that serves Shift_JIS instead of the encoding.
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"" + encoding_ + "\"?>\r\n";
    return Text(declaration.c_str()) && Writer(xmlTextWriterStartElement(writer_.get(), BAD_CAST root_.c_str()));
}

bool CiiXmlWriter::Layout(std::size_t spaces) {
    static const std::string kLayout = "\r\n" + std::string(64, ' ');
    const std::size_t n = std::min<std::size_t>(spaces, 64);
    return Writer(xmlTextWriterWriteRawLen(writer_.get(), BAD_CAST kLayout.data(), static_cast<int>(2 + n)));
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
        if (!Text("\r\n") || !Writer(xmlTextWriterStartElement(writer_.get(), BAD_CAST "JPTRM")) ||
            !Writer(xmlTextWriterWriteAttribute(writer_.get(), BAD_CAST "SEQ",
                                                BAD_CAST std::to_string(sequence).c_str()))) {
            return false;
        }
    }
    levels_.assign(1, Level{});
    skipped_groups_ = 0;
    std::int64_t remaining = budget - prefix_size;
    bool two_byte = false;
    bool ended = false;
    auto next = [this, &remaining](std::uint8_t& b) {
        if (!stored_.ReadStoredByte(b)) return false;
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
                ok = DataElement(b, remaining, ended);
            } else if (b == kCiiTwoByteTags) {
                two_byte = true;
            } else if (b == kCiiGroupStart) {
                ok = OpenGroup(GroupMatch::kFirst, 0, false);
            }  // 0xFD and 0xF1-0xF9, 0xFF mean nothing here
        } else if (b <= 239) {
            if (!next(b1)) break;
            ok = DataElement(b * 256 + b1, remaining, ended);
        } else if (b >= 0xF1 && b <= 0xF7) {
            if (!next(b1) || !next(b2)) break;
            ok = DataElement((b - 0xF0) * 65536 + b1 * 256 + b2, remaining, ended);
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
    // A message cut off by the end of the file is left open; nothing after the last end record
    // is kept, so it never reaches the saved document.
    if (!ended) return !failed_;
    if (writing_) {
        skipped_groups_ = 0;
        while (levels_.size() > 1) {
            if (!CloseGroup(false)) return false;
        }
        if (!Text("\r\n") || !Writer(xmlTextWriterEndElement(writer_.get()))) return false;
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
    const auto level = static_cast<std::int32_t>(levels_.size()) - 1;
    std::int32_t found = outer.start;
    if (!FindGroupItem(state_.message_items, found, level, match, number)) {
        // Without its master item the group is read through and left out, members and all.
        WriteErrorLog(log_, code::kUnknownGroup, "JPM" + std::to_string(number), 1);
        skipped_groups_ = 1;
        return true;
    }
    outer.start = found;
    const std::string& multi = state_.message_items[found].マルチ明細番号;
    const std::string group = two_byte ? "JPM" + NameFrom(multi) : std::string("JPM0");
    const std::size_t depth = levels_.size();  // of the group element inside the message
    Level inner;
    inner.start = found + 1;
    inner.occurrence = group + "R";
    if (!Layout(4 * depth - 2) || !Writer(xmlTextWriterStartElement(writer_.get(), BAD_CAST group.c_str())) ||
        !Layout(4 * (depth + 1) - 2) ||
        !Writer(xmlTextWriterStartElement(writer_.get(), BAD_CAST inner.occurrence.c_str()))) {
        return false;
    }
    levels_.push_back(std::move(inner));
    return true;
}

bool CiiXmlWriter::NextOccurrence() {
    if (!writing_ || skipped_groups_ > 0 || levels_.size() < 2) return true;
    Level& current = levels_.back();
    const std::size_t depth = levels_.size();
    if (!Writer(xmlTextWriterEndElement(writer_.get())) || !Layout(4 * depth - 2) ||
        !Writer(xmlTextWriterStartElement(writer_.get(), BAD_CAST current.occurrence.c_str()))) {
        return false;
    }
    // Every occurrence holds the same members: the search starts again after the group item.
    std::int32_t group = levels_[levels_.size() - 2].start;
    current.start = group + 1;
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
    return Writer(xmlTextWriterEndElement(writer_.get())) && Writer(xmlTextWriterEndElement(writer_.get()));
}

bool CiiXmlWriter::DataElement(std::int32_t tag, std::int64_t& remaining, bool& ended) {
    std::int32_t length = 0;
    if (!stored_.ReadElementLength(remaining, length, log_)) {
        ended = false;
        return true;  // the file ended: the loop stops at the next read
    }
    if (!stored_.ReadStoredBytes(value_.data(), static_cast<std::size_t>(length))) return true;
    remaining -= length;
    if (!writing_ || skipped_groups_ > 0) return true;
    Level& level = levels_.back();
    std::int32_t found = level.start;
    if (!FindMessageItemByTag(state_.message_items, found, tag, static_cast<std::int32_t>(levels_.size()) - 1)) {
        WriteErrorLog(log_, code::kUnknownElement, "JP" + std::to_string(tag), 1);
        return true;
    }
    level.start = found;
    CiiValueToText(ByteView(value_.data(), static_cast<std::size_t>(length)), state_.message_items[found], text_);
    char number[16];
    std::snprintf(number, sizeof number, "JP%05d", tag);
    return Layout(4 * levels_.size()) &&
           Writer(xmlTextWriterWriteElement(writer_.get(), BAD_CAST number, BAD_CAST text_.c_str()));
}

void CiiXmlWriter::CiiValueToText(ByteView bytes, const RecordFormatItem& item, std::string& text) {
    const std::string& a = item.属性;
    text.clear();
    if (a == "9" || a == "X" || a == "N") {
        text = BytesToText(bytes);
    } else if (a == "Y") {
        text = DateWithCentury(BytesToText(bytes));
    } else if (a == "B") {
        for (const std::uint8_t b : bytes) {
            text += kHex[b >> 4];
            text += kHex[b & 0x0F];
        }
    } else if (a == "K") {
        const char direction[2] = {static_cast<char>(state_.header.SixteenBitCode()), 'M'};
        DoubleBytesToText(bytes, std::string_view(direction, 2), converted_);
        text = ToUnicodeText(converted_);
    }
    if (MakeXmlText(text)) WriteErrorLog(log_, code::kNotXmlText, "JP" + std::to_string(item.項目No), 1);
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
        }  // the text writer is freed here; what it still held lies after the saved point
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
