// The clock reaches the logic through this interface so that tests can fix the time.
#pragma once

#include <string>

namespace edi {

struct LocalDateTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalDateTime Now() const = 0;
};

// The machine's local time.
class SystemClock final : public Clock {
public:
    LocalDateTime Now() const override;
};

std::string FormatDate(const LocalDateTime& t);  // "yyyy/mm/dd"
std::string FormatTime(const LocalDateTime& t);  // "hh:nn:ss"

}  // namespace edi
