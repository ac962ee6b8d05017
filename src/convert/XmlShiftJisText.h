// Text of the XML form written straight in Shift_JIS, without a round trip through UTF-8: every
// code page 932 character becomes the bytes that the text writer and libxml2's Shift_JIS output
// encoder give for it (markup characters escaped, a control character as "?", a character the
// encoder cannot take as a decimal character reference). Those bytes are worked out once per
// character, by that very encoder, and kept for the life of the thread.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <libxml/xmlIO.h>

#include "convert/codec/Codec.h"

namespace edi {

class XmlShiftJisText {
public:
    // The one of this thread; nullptr when libxml2 has no Shift_JIS encoder.
    static XmlShiftJisText* ForThisThread();
    ~XmlShiftJisText();
    XmlShiftJisText(const XmlShiftJisText&) = delete;
    XmlShiftJisText& operator=(const XmlShiftJisText&) = delete;

    // Appends the text of code page 932 bytes (as BytesToText reads them) to out. true when a
    // control character was written as "?".
    bool AppendCp932(ByteView bytes, std::string& out);
    // The same for UTF-8 text.
    bool AppendUtf8(std::string_view text, std::string& out);

private:
    struct Entry {
        std::string bytes;      // what is written
        bool built = false;
        bool replaced = false;  // a control character became "?"
        bool identity = false;  // written as it stands
        bool may_lead = false;  // a single byte that reads as U+FFFD: it may start a pair
        bool pair = false;      // (pairs) the two bytes are one character
    };
    using Row = std::array<Entry, 256>;

    XmlShiftJisText() = default;
    bool Open();
    // The encoder's bytes for UTF-8 text that holds no control character: escaped, encoded.
    std::string Encode(std::string_view utf8);
    void Build(Entry& entry, ByteView cp932);
    const Entry& Pair(std::uint8_t lead, std::uint8_t trail);
    static int OnWrite(void* self, const char* data, int length);

    xmlOutputBufferPtr buffer_ = nullptr;  // owns the encoder
    std::string encoded_;                  // what the encoder wrote
    std::array<Entry, 256> singles_{};
    std::array<bool, 256> plain_{};        // single bytes written as they stand
    std::array<std::unique_ptr<Row>, 256> pairs_{};
};

}  // namespace edi
