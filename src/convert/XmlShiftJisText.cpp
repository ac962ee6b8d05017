#include "convert/XmlShiftJisText.h"

#include <libxml/entities.h>

#include "convert/XmlSupport.h"

namespace edi {
namespace {

// The iconv name of plain Shift_JIS, which the reading side's code page 932 alias leaves alone.
constexpr const char* kPlainShiftJis = "SHIFT-JIS";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace

XmlShiftJisText* XmlShiftJisText::ForThisThread() {
    thread_local std::unique_ptr<XmlShiftJisText> text;
    thread_local bool tried = false;
    if (!tried) {
        tried = true;
        std::unique_ptr<XmlShiftJisText> made(new XmlShiftJisText());
        if (made->Open()) text = std::move(made);
    }
    return text.get();
}

XmlShiftJisText::~XmlShiftJisText() {
    if (buffer_ != nullptr) xmlOutputBufferClose(buffer_);
}

bool XmlShiftJisText::Open() {
    EnsureXmlLibrary();
    xmlCharEncodingHandlerPtr encoder = xmlFindCharEncodingHandler(kPlainShiftJis);
    if (encoder == nullptr) return false;
    buffer_ = xmlOutputBufferCreateIO(&XmlShiftJisText::OnWrite, nullptr, this, encoder);
    if (buffer_ == nullptr) {
        xmlCharEncCloseFunc(encoder);
        return false;
    }
    for (std::size_t b = 0; b < singles_.size(); ++b) {
        const auto byte = static_cast<std::uint8_t>(b);
        Build(singles_[b], ByteView(&byte, 1));
        singles_[b].may_lead = ToUnicodeText(ByteView(&byte, 1)) == kReplacement;
        plain_[b] = singles_[b].identity && !singles_[b].may_lead;
    }
    return true;
}

int XmlShiftJisText::OnWrite(void* self, const char* data, int length) {
    static_cast<XmlShiftJisText*>(self)->encoded_.append(data, static_cast<std::size_t>(length));
    return length;
}

std::string XmlShiftJisText::Encode(std::string_view utf8) {
    const std::string text(utf8);
    xmlChar* escaped = xmlEncodeSpecialChars(nullptr, reinterpret_cast<const xmlChar*>(text.c_str()));
    encoded_.clear();
    if (escaped != nullptr) {
        xmlOutputBufferWriteString(buffer_, reinterpret_cast<const char*>(escaped));
        xmlFree(escaped);
    }
    xmlOutputBufferFlush(buffer_);
    return encoded_;
}

void XmlShiftJisText::Build(Entry& entry, ByteView cp932) {
    std::string text = ToUnicodeText(cp932);
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && u != '\t' && u != '\r' && u != '\n') {
            c = '?';
            entry.replaced = true;
        }
    }
    entry.bytes = Encode(text);
    entry.identity = entry.bytes == std::string_view(reinterpret_cast<const char*>(cp932.data()), cp932.size());
    entry.built = true;
}

const XmlShiftJisText::Entry& XmlShiftJisText::Pair(std::uint8_t lead, std::uint8_t trail) {
    std::unique_ptr<Row>& row = pairs_[lead];
    if (!row) row = std::make_unique<Row>();
    Entry& entry = (*row)[trail];
    if (!entry.built) {
        // The two bytes are one character when they do not read as the lead's U+FFFD followed
        // by whatever the trail byte reads as alone.
        const std::uint8_t both[2] = {lead, trail};
        std::string apart = ToUnicodeText(ByteView(&lead, 1));
        apart += ToUnicodeText(ByteView(&trail, 1));
        entry.pair = ToUnicodeText(ByteView(both, 2)) != apart;
        if (entry.pair) {
            Build(entry, ByteView(both, 2));
        } else {
            entry.built = true;
        }
    }
    return entry;
}

bool XmlShiftJisText::AppendCp932(ByteView bytes, std::string& out) {
    bool replaced = false;
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        std::size_t plain = i;
        while (plain < n && plain_[bytes[plain]]) ++plain;
        if (plain > i) {
            out.append(reinterpret_cast<const char*>(bytes.data()) + i, plain - i);
            i = plain;
            if (i == n) break;
        }
        const Entry& single = singles_[bytes[i]];
        if (single.may_lead && i + 1 < n) {
            const Entry& pair = Pair(bytes[i], bytes[i + 1]);
            if (pair.pair) {
                out += pair.bytes;
                replaced |= pair.replaced;
                i += 2;
                continue;
            }
        }
        out += single.bytes;
        replaced |= single.replaced;
        ++i;
    }
    return replaced;
}

bool XmlShiftJisText::AppendUtf8(std::string_view text, std::string& out) {
    bool replaced = false;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<std::uint8_t>(text[i]);
        if (b < 0x80) {
            const Entry& single = singles_[b];
            out += single.bytes;
            replaced |= single.replaced;
            ++i;
            continue;
        }
        // Characters beyond ASCII carry no markup and no control: the encoder takes them as a run.
        std::size_t end = i;
        while (end < text.size() && static_cast<std::uint8_t>(text[end]) >= 0x80) ++end;
        out += Encode(text.substr(i, end - i));
        i = end;
    }
    return replaced;
}

}  // namespace edi
