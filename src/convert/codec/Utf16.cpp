#include "convert/codec/Utf16.h"

#include "convert/codec/Iconv.h"

namespace edi {
namespace {

using codec_detail::IconvConverter;

constexpr std::uint8_t kUtf16Replacement[] = {0xFF, 0xFD};
constexpr std::uint8_t kQuestionMark[] = {'?'};

}  // namespace

bool AppendCp932AsUtf16Be(ByteView sjis, Bytes& out) {
    thread_local IconvConverter conv("UTF-16BE", "CP932");
    if (!conv.Valid()) return false;
    conv.Run(sjis, kUtf16Replacement, [](const std::uint8_t*, std::size_t) { return std::size_t{1}; }, out);
    return true;
}

bool AppendUtf16BeAsCp932(ByteView utf16be, Bytes& out) {
    thread_local IconvConverter conv("CP932", "UTF-16BE");
    if (!conv.Valid()) return false;
    conv.Run(utf16be, kQuestionMark, [](const std::uint8_t*, std::size_t) { return std::size_t{2}; }, out);
    return true;
}

}  // namespace edi
