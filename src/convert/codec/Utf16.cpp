#include "convert/codec/Utf16.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace edi {
namespace {

class Converter {
public:
    Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~Converter() {
        if (Valid()) iconv_close(handle_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool Valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

    // Converts into the free tail of out; the replacement and the input step are taken on a
    // byte sequence iconv refuses, so the whole input is always consumed.
    void Run(ByteView in, std::size_t step, ByteView replacement, Bytes& out) {
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        auto* src = const_cast<char*>(reinterpret_cast<const char*>(in.data()));
        std::size_t src_left = in.size();
        while (src_left > 0) {
            const std::size_t used = out.size();
            out.resize(used + src_left * 2 + 8);
            auto* dst = reinterpret_cast<char*>(out.data() + used);
            std::size_t dst_left = out.size() - used;
            const std::size_t rc = iconv(handle_, &src, &src_left, &dst, &dst_left);
            out.resize(out.size() - dst_left);
            if (rc != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
            out.insert(out.end(), replacement.begin(), replacement.end());
            const std::size_t skip = std::min(step, src_left);
            src += skip;
            src_left -= skip;
            iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        }
    }

private:
    iconv_t handle_;
};

constexpr std::uint8_t kUtf16Replacement[] = {0xFF, 0xFD};
constexpr std::uint8_t kQuestionMark[] = {'?'};

}  // namespace

bool AppendCp932AsUtf16Be(ByteView sjis, Bytes& out) {
    thread_local Converter conv("UTF-16BE", "CP932");
    if (!conv.Valid()) return false;
    conv.Run(sjis, 1, kUtf16Replacement, out);
    return true;
}

bool AppendUtf16BeAsCp932(ByteView utf16be, Bytes& out) {
    thread_local Converter conv("CP932", "UTF-16BE");
    if (!conv.Valid()) return false;
    conv.Run(utf16be, 2, kQuestionMark, out);
    return true;
}

}  // namespace edi
