// Copies and fills of the few bytes a field or an element takes, done in place: for up to 16
// bytes two overlapping word moves instead of a call to memcpy or memset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace edi {

// The first and the last sizeof(Word) bytes of n (sizeof(Word) <= n <= 2 * sizeof(Word)), which
// together cover all n.
template <typename Word>
inline void CopyEnds(std::uint8_t* dst, const std::uint8_t* src, std::size_t n) {
    Word head;
    Word tail;
    std::memcpy(&head, src, sizeof(Word));
    std::memcpy(&tail, src + n - sizeof(Word), sizeof(Word));
    std::memcpy(dst, &head, sizeof(Word));
    std::memcpy(dst + n - sizeof(Word), &tail, sizeof(Word));
}

inline void CopyBytes(std::uint8_t* dst, const std::uint8_t* src, std::size_t n) {
    if (n >= 8 && n <= 16) {
        CopyEnds<std::uint64_t>(dst, src, n);
    } else if (n >= 4 && n < 8) {
        CopyEnds<std::uint32_t>(dst, src, n);
    } else if (n < 4) {
        if (n > 0) dst[0] = src[0];
        if (n > 1) dst[1] = src[1];
        if (n > 2) dst[2] = src[2];
    } else {
        std::memcpy(dst, src, n);
    }
}

inline void FillBytes(std::uint8_t* dst, std::uint8_t b, std::size_t n) {
    if (n >= 8 && n <= 16) {
        const std::uint64_t word = 0x0101010101010101ULL * b;
        std::memcpy(dst, &word, 8);
        std::memcpy(dst + n - 8, &word, 8);
    } else if (n >= 4 && n < 8) {
        const std::uint32_t word = 0x01010101U * b;
        std::memcpy(dst, &word, 4);
        std::memcpy(dst + n - 4, &word, 4);
    } else if (n < 4) {
        if (n > 0) dst[0] = b;
        if (n > 1) dst[1] = b;
        if (n > 2) dst[2] = b;
    } else {
        std::memset(dst, b, n);
    }
}

}  // namespace edi
