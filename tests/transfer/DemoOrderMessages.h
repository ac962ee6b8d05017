// The demo partner's order messages for the suites that run the real converters on the demo masters.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "DemoOrders.h"
#include "convert/LocalCiiConversion.h"
#include "support/TestSupport.h"

namespace edi::test {

// A message of one order record per order number, made CII by the converter in the folder given.
inline std::string DemoOrdersCii(WorkArea& work, const std::filesystem::path& dir,
                                 const std::vector<std::string>& order_numbers) {
    std::string local;
    for (std::size_t i = 0; i < order_numbers.size(); ++i) {
        local += bench::DemoOrderRecord(static_cast<int>(i), order_numbers[i]);
    }
    WriteFile(dir / "orders.txt", std::string_view(local));
    std::filesystem::remove(dir / "orders.CII");
    std::string result;
    RunLocalCiiConversion(work, "", 1, kLocalToCii, dir / "orders.txt", dir / "orders.CII", result);
    EXPECT_EQ(result, "0000");
    return ReadText(dir / "orders.CII");
}

}  // namespace edi::test
