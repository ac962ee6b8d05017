#include "startup/Clock.h"

#include <cstdio>
#include <ctime>

namespace edi {

LocalDateTime SystemClock::Now() const {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return LocalDateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                         local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::string FormatDate(const LocalDateTime& t) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d/%02d/%02d", t.year, t.month, t.day);
    return buffer;
}

std::string FormatTime(const LocalDateTime& t) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buffer;
}

}  // namespace edi
