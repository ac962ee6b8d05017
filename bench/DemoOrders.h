// Order records of the demo's partner (information kind 0130 of demo/masters.sql), as the link
// package's messages are made of in the job benchmark and the runner's crash test.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "convert/codec/Codec.h"

namespace edi::bench {

// One local record line (code page 932, CR LF); the order number goes in columns 64-76.
inline std::string DemoOrderRecord(int index, std::string_view order_number) {
    std::string rec(1579, ' ');
    const auto put = [&rec](std::size_t pos, std::string_view utf8) {
        const Bytes bytes = ToAnsiBytes(utf8);
        std::copy(bytes.begin(), bytes.end(), rec.begin() + static_cast<std::ptrdiff_t>(pos - 1));
    };
    char number[24];
    put(1, "PARTNER01 ");
    put(11, "20261205");
    put(19, "261205");
    put(25, order_number);
    put(38, "株式会社パートナー工業");
    put(58, "OWNCO0001   ");
    put(70, "材料メーカ株式会社");
    std::snprintf(number, sizeof number, "%010d", 1000 + index);
    put(115, number);
    put(125, "00001");
    std::snprintf(number, sizeof number, "ITEM-%08d", index);
    put(233, number);
    put(246, "鋼板　ＳＰＣＣ");
    std::snprintf(number, sizeof number, "%07d", 1 + index % 500);
    put(266, number);
    put(283, "001");
    put(1579, "0");
    return "     0130      OWNCO0001   PARTNER01   " + rec + "\r\n";
}

}  // namespace edi::bench
