// The iconv converter behind the codec: one per direction and thread, opened once,
// reset before each use. Internal to src/convert/codec.
#pragma once

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <span>

namespace edi::codec_detail {

class IconvConverter {
public:
    IconvConverter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~IconvConverter() {
        if (Valid()) iconv_close(handle_);
    }
    IconvConverter(const IconvConverter&) = delete;
    IconvConverter& operator=(const IconvConverter&) = delete;

    bool Valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

    // Converts the whole input onto the end of out (a std::string or a byte vector).
    // Where iconv refuses a sequence, the replacement is appended and skip(rest) input
    // bytes are passed over, so the whole input is always consumed.
    template <class Out, class Skip>
    void Run(std::span<const std::uint8_t> in, std::span<const std::uint8_t> replacement, Skip skip, Out& out) {
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        auto* src = const_cast<char*>(reinterpret_cast<const char*>(in.data()));
        std::size_t src_left = in.size();
        while (src_left > 0) {
            const std::size_t used = out.size();
            out.resize(used + src_left * 3 + 8);
            auto* dst = reinterpret_cast<char*>(out.data() + used);
            std::size_t dst_left = out.size() - used;
            const std::size_t rc = iconv(handle_, &src, &src_left, &dst, &dst_left);
            out.resize(out.size() - dst_left);
            if (rc != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
            out.insert(out.end(), replacement.begin(), replacement.end());
            const std::size_t n = std::min<std::size_t>(
                std::max<std::size_t>(skip(reinterpret_cast<const std::uint8_t*>(src), src_left), 1), src_left);
            src += n;
            src_left -= n;
            iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        }
    }

private:
    iconv_t handle_;
};

}  // namespace edi::codec_detail
