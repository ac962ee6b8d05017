#include "convert/codec/Codec.h"

#include <array>
#include <memory>

#include "convert/codec/Iconv.h"

namespace edi {
namespace {

using codec_detail::IconvConverter;

IconvConverter& ToCp932() {
    thread_local IconvConverter c("CP932", "UTF-8");
    return c;
}
IconvConverter& FromCp932() {
    thread_local IconvConverter c("UTF-8", "CP932");
    return c;
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

std::size_t Utf8SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC2) return 2;
    return 1;
}

// Decodes one UTF-8 code point at text[pos]; a broken sequence yields U+FFFD and one byte.
char32_t DecodeUtf8(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    const std::size_t len = Utf8SequenceLength(lead);
    if (len == 1 || pos + len > text.size()) {
        ++pos;
        return lead < 0x80 ? lead : 0xFFFD;
    }
    char32_t cp = lead & (0x7F >> len);
    for (std::size_t i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(text[pos + i]);
        if ((b & 0xC0) != 0x80) {
            ++pos;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    pos += len;
    return cp;
}

void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool IsAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// The UTF-16LE storage of a text, the raw form of a string that is not ANSI text.
Bytes Utf16Storage(std::string_view text) {
    Bytes out;
    out.reserve(text.size() * 2);
    auto put = [&out](char32_t unit) {
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    };
    for (std::size_t pos = 0; pos < text.size();) {
        const char32_t cp = DecodeUtf8(text, pos);
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

// Back from UTF-16LE storage; an odd trailing byte or a lone surrogate becomes U+FFFD.
std::string FromUtf16Storage(ByteView bytes) {
    std::string out;
    std::size_t i = 0;
    auto unit_at = [&bytes](std::size_t k) { return static_cast<char32_t>(bytes[k] | (bytes[k + 1] << 8)); };
    while (i + 1 < bytes.size()) {
        const char32_t u = unit_at(i);
        i += 2;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < bytes.size()) {
            const char32_t low = unit_at(i);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                i += 2;
                AppendUtf8(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00), out);
                continue;
            }
        }
        AppendUtf8((u >= 0xD800 && u <= 0xDFFF) ? char32_t{0xFFFD} : u, out);
    }
    if (i < bytes.size()) out.append(kReplacement);
    return out;
}

// The text's code-page bytes when it survives the round trip, else nothing.
std::optional<Bytes> AnsiFormOf(std::string_view text) {
    Bytes bytes = ToAnsiBytes(text);
    if (!IsAscii(text) && ToUnicodeText(bytes) != text) return std::nullopt;
    return bytes;
}

std::string CutBytes(std::string_view text, std::size_t start0, std::optional<std::size_t> count) {
    std::optional<Bytes> ansi_form = AnsiFormOf(text);
    const bool ansi = ansi_form.has_value();
    const Bytes raw = ansi ? std::move(*ansi_form) : Utf16Storage(text);
    if (start0 >= raw.size()) return {};
    const std::size_t available = raw.size() - start0;
    const std::size_t n = count ? std::min(*count, available) : available;
    const ByteView part(raw.data() + start0, n);
    return ansi ? ToUnicodeText(part) : FromUtf16Storage(part);
}

}  // namespace

namespace {

// Converts UTF-8 to code page 932 with iconv: one "?" for each unmappable character or broken
// sequence (the whole sequence as DecodeUtf8 reads it). Returns how many "?" it wrote.
std::size_t IconvToAnsi(std::string_view text, Bytes& out) {
    static constexpr std::uint8_t kQuestionMark[] = {'?'};
    std::size_t replaced = 0;
    const auto skip = [&replaced](const std::uint8_t* p, std::size_t left) {
        ++replaced;
        std::size_t pos = 0;
        DecodeUtf8(std::string_view(reinterpret_cast<const char*>(p), left), pos);
        return pos;
    };
    IconvConverter& conv = ToCp932();
    if (conv.Valid()) {
        conv.Run(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), kQuestionMark, skip, out);
    }
    return replaced;
}

// The code page 932 form of each character of the basic plane, found once by iconv and kept
// per thread. The conversion takes one character at a time, so a string converts as its
// characters do.
class AnsiForms {
public:
    // The bytes of the character cp, written as its canonical UTF-8 sequence `utf8`: one or two
    // bytes, or none when iconv has no form for it (then "?" is written).
    std::uint32_t Of(char32_t cp, std::string_view utf8) {
        std::unique_ptr<Row>& row = rows_[cp >> 8];
        if (!row) row = std::make_unique<Row>();
        std::uint32_t& form = (*row)[cp & 0xFF];
        if (form == 0) {
            Bytes bytes;
            const bool lost = IconvToAnsi(utf8, bytes) != 0;
            form = kKnown;
            if (!lost && (bytes.size() == 1 || bytes.size() == 2)) {
                form |= static_cast<std::uint32_t>(bytes.size()) << 16;
                for (const std::uint8_t b : bytes) form = (form & ~0xFFFFU) | ((form & 0xFFU) << 8) | b;
            }
        }
        return form;
    }
    static constexpr std::uint32_t kKnown = 1U << 31;

private:
    using Row = std::array<std::uint32_t, 256>;
    std::array<std::unique_ptr<Row>, 256> rows_;
};

}  // namespace

std::size_t AppendAnsiBytes(std::string_view text, Bytes& out) {
    if (IsAscii(text)) {
        out.insert(out.end(), text.begin(), text.end());
        return 0;
    }
    thread_local AnsiForms forms;
    std::size_t replaced = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const auto lead = static_cast<unsigned char>(text[pos]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++pos;
            continue;
        }
        const std::size_t start = pos;
        char32_t cp = 0;
        const auto second = pos + 1 < text.size() ? static_cast<unsigned char>(text[pos + 1]) : 0;
        const auto third = pos + 2 < text.size() ? static_cast<unsigned char>(text[pos + 2]) : 0;
        if (lead >= 0xC2 && lead <= 0xDF && (second & 0xC0) == 0x80) {
            cp = static_cast<char32_t>((lead & 0x1F) << 6 | (second & 0x3F));
            pos += 2;
        } else if (lead >= 0xE0 && lead <= 0xEF && (second & 0xC0) == 0x80 && (third & 0xC0) == 0x80) {
            cp = static_cast<char32_t>((lead & 0x0F) << 12 | (second & 0x3F) << 6 | (third & 0x3F));
            pos += 3;
        } else {
            pos = start + 4;  // not one of the two
        }
        // A sequence that is not one character of the basic plane written canonically goes to
        // iconv as DecodeUtf8 reads it.
        if (pos == start + 4 || cp < 0x80 || (cp >= 0x800 && pos - start == 2) || (cp < 0x800 && pos - start == 3) ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            pos = start;
            DecodeUtf8(text, pos);
            replaced += IconvToAnsi(text.substr(start, pos - start), out);
            continue;
        }
        const std::string_view sequence = text.substr(start, pos - start);
        const std::uint32_t form = forms.Of(cp, sequence);
        const std::uint32_t size = (form >> 16) & 0x3;
        if (size == 0) {
            out.push_back('?');
            ++replaced;
        } else if (size == 1) {
            out.push_back(static_cast<std::uint8_t>(form & 0xFF));
        } else {
            out.push_back(static_cast<std::uint8_t>((form >> 8) & 0xFF));
            out.push_back(static_cast<std::uint8_t>(form & 0xFF));
        }
    }
    return replaced;
}

Bytes ToAnsiBytes(std::string_view text) {
    Bytes out;
    out.reserve(text.size());
    AppendAnsiBytes(text, out);
    return out;
}

std::string ToUnicodeText(ByteView bytes) {
    const std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (IsAscii(raw)) return std::string(raw);
    static constexpr std::uint8_t kReplacementBytes[] = {0xEF, 0xBF, 0xBD};  // U+FFFD
    std::string out;
    out.reserve(bytes.size() * 3 / 2);
    IconvConverter& conv = FromCp932();
    if (conv.Valid()) {
        conv.Run(bytes, kReplacementBytes, [](const std::uint8_t*, std::size_t) { return std::size_t{1}; }, out);
    }
    return out;
}

bool IsAnsiText(std::string_view text) { return IsAscii(text) || AnsiFormOf(text).has_value(); }

std::int32_t AnsiLenB(std::string_view text) {
    if (IsAscii(text)) return static_cast<std::int32_t>(text.size());
    if (const auto bytes = AnsiFormOf(text)) return static_cast<std::int32_t>(bytes->size());
    return static_cast<std::int32_t>(Utf16Storage(text).size());
}

std::string AnsiLeftB(std::string_view text, std::int32_t n) {
    if (n <= 0) return {};
    return CutBytes(text, 0, static_cast<std::size_t>(n));
}

std::optional<std::string> AnsiMidB(std::string_view text, std::int32_t start, std::optional<std::int32_t> count) {
    if (start < 1 || (count && *count < 0)) return std::nullopt;
    std::optional<std::size_t> n;
    if (count) n = static_cast<std::size_t>(*count);
    return CutBytes(text, static_cast<std::size_t>(start - 1), n);
}

namespace {

// Full-width forms of the half-width katakana block U+FF61..U+FF9F.
constexpr char16_t kFullKana[] = {
    u'。', u'「', u'」', u'、', u'・', u'ヲ', u'ァ', u'ィ', u'ゥ', u'ェ', u'ォ', u'ャ', u'ュ', u'ョ', u'ッ', u'ー',
    u'ア', u'イ', u'ウ', u'エ', u'オ', u'カ', u'キ', u'ク', u'ケ', u'コ', u'サ', u'シ', u'ス', u'セ', u'ソ', u'タ',
    u'チ', u'ツ', u'テ', u'ト', u'ナ', u'ニ', u'ヌ', u'ネ', u'ノ', u'ハ', u'ヒ', u'フ', u'ヘ', u'ホ', u'マ', u'ミ',
    u'ム', u'メ', u'モ', u'ヤ', u'ユ', u'ヨ', u'ラ', u'リ', u'ル', u'レ', u'ロ', u'ワ', u'ン', u'゛', u'゜'};
static_assert(sizeof kFullKana / sizeof kFullKana[0] == 0xFF9F - 0xFF61 + 1);

bool TakesVoicedMark(char32_t kana) {
    static constexpr std::u32string_view kVoiceable = U"カキクケコサシスセソタチツテトハヒフヘホウ";
    return kVoiceable.find(kana) != std::u32string_view::npos;
}
bool TakesSemiVoicedMark(char32_t kana) {
    static constexpr std::u32string_view kSemiVoiceable = U"ハヒフヘホ";
    return kSemiVoiceable.find(kana) != std::u32string_view::npos;
}

}  // namespace

std::string ToFullWidth(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t cp = DecodeUtf8(text, pos);
        if (cp == U' ') {
            cp = U'\u3000';
        } else if (cp >= 0x21 && cp <= 0x7E) {
            cp = cp - 0x21 + 0xFF01;
        } else if (cp >= 0xFF61 && cp <= 0xFF9F) {
            cp = kFullKana[cp - 0xFF61];
            // A following ﾞ or ﾟ joins the kana before it when the pair has a full-width form.
            if (pos < text.size()) {
                std::size_t next_pos = pos;
                const char32_t next = DecodeUtf8(text, next_pos);
                if (next == 0xFF9E && TakesVoicedMark(cp)) {
                    cp = cp == U'ウ' ? U'ヴ' : cp + 1;
                    pos = next_pos;
                } else if (next == 0xFF9F && TakesSemiVoicedMark(cp)) {
                    cp = cp + 2;
                    pos = next_pos;
                }
            }
        }
        AppendUtf8(cp, out);
    }
    return out;
}

std::size_t Utf8CharCount(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < text.size(); ++count) DecodeUtf8(text, pos);
    return count;
}

std::string TrimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

}  // namespace edi
