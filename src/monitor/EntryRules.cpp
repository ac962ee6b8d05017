#include "monitor/EntryRules.h"

#include <cstdio>
#include <vector>

#include "convert/codec/Codec.h"

namespace edi {
namespace {

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Splits on the separator into runs of 1..max_digits digits; nothing on any other character.
std::optional<std::vector<std::pair<int, std::size_t>>> NumberParts(std::string_view text, char separator) {
    std::vector<std::pair<int, std::size_t>> parts;
    std::size_t pos = 0;
    while (true) {
        const std::size_t start = pos;
        int value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            if (pos - start >= 4) return std::nullopt;
            value = value * 10 + (text[pos] - '0');
            ++pos;
        }
        if (pos == start) return std::nullopt;
        parts.emplace_back(value, pos - start);
        if (pos == text.size()) return parts;
        if (text[pos] != separator) return std::nullopt;
        ++pos;
    }
}

std::string FormatCalendarDate(const CalendarDate& d) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04d/%02d/%02d", d.year, d.month, d.day);
    return buffer;
}

std::string FormatMinutes(int minutes) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d", minutes / 60, minutes % 60);
    return buffer;
}

int Warn(MessageBoxes& boxes, const char* text) {
    boxes.Show(MessageRequest{text, kProgramTitle, MessageIcon::kExclamation, MessageButtons::kOk});
    return 9;
}

}  // namespace

bool FilterKey(char kind, char32_t typed) {
    if (typed == 8 || typed == 13) return true;
    if (kind == kDateKind) return typed >= U'/' && typed <= U'9';
    if (kind == kTimeKind) return typed >= U'0' && typed <= U':';
    return false;
}

std::optional<CalendarDate> ParseDate(std::string_view text, int current_year) {
    const std::string t = TrimBlanks(text);
    const auto parts = NumberParts(t, '/');
    if (!parts || parts->size() < 2 || parts->size() > 3) return std::nullopt;
    CalendarDate d;
    if (parts->size() == 2) {
        d = {current_year, (*parts)[0].first, (*parts)[1].first};
        if ((*parts)[0].second > 2 || (*parts)[1].second > 2) return std::nullopt;
    } else {
        const auto [year, year_digits] = (*parts)[0];
        if (year_digits == 3) return std::nullopt;
        d.year = year_digits <= 2 ? (year < 30 ? 2000 + year : 1900 + year) : year;
        d.month = (*parts)[1].first;
        d.day = (*parts)[2].first;
        if ((*parts)[1].second > 2 || (*parts)[2].second > 2) return std::nullopt;
    }
    if (d.year < 100 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > DaysInMonth(d.year, d.month)) {
        return std::nullopt;
    }
    return d;
}

std::optional<int> ParseTimeMinutes(std::string_view text) {
    const std::string t = TrimBlanks(text);
    const auto parts = NumberParts(t, ':');
    if (!parts || parts->size() < 2 || parts->size() > 3) return std::nullopt;
    for (const auto& [value, digits] : *parts) {
        if (digits > 2) return std::nullopt;
    }
    const int hour = (*parts)[0].first;
    const int minute = (*parts)[1].first;
    const int second = parts->size() == 3 ? (*parts)[2].first : 0;
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    return hour * 60 + minute;
}

std::string NormaliseDate(std::string_view text, int current_year) {
    std::string t = TrimBlanks(text);
    if (t.find('/') == std::string::npos) {
        std::string candidate;
        if (t.size() == 8) {
            candidate = t.substr(0, 4) + "/" + t.substr(4, 2) + "/" + t.substr(6, 2);
        } else if (t.size() == 6) {
            candidate = t.substr(0, 2) + "/" + t.substr(2, 2) + "/" + t.substr(4, 2);
        } else {
            return t;
        }
        if (!ParseDate(candidate, current_year)) return t;
        t = candidate;
    }
    const auto date = ParseDate(t, current_year);
    return date ? FormatCalendarDate(*date) : t;
}

std::string NormaliseTime(std::string_view text) {
    std::string t = TrimBlanks(text);
    if (t.find(':') != std::string::npos || t.size() != 4) return t;
    const std::string candidate = t.substr(0, 2) + ":" + t.substr(2, 2);
    const auto minutes = ParseTimeMinutes(candidate);
    return minutes ? FormatMinutes(*minutes) : t;
}

int CheckDate(std::string_view sdate, const LocalDateTime& now, MessageBoxes& boxes) {
    const std::string t = TrimBlanks(sdate);
    if (t.empty()) return Warn(boxes, kBadDate);
    const auto date = ParseDate(t, now.year);
    if (!date) return Warn(boxes, kBadDate);
    if (FormatCalendarDate(*date) < FormatCalendarDate(CalendarDate{now.year, now.month, now.day})) return Warn(boxes, kPastDate);
    return 0;
}

int CheckTime(std::string_view sdate, std::string_view ktime, const LocalDateTime& now, MessageBoxes& boxes) {
    const std::string t = TrimBlanks(ktime);
    if (t.empty()) return Warn(boxes, kBadTime);
    const auto minutes = ParseTimeMinutes(t);
    if (!minutes) return Warn(boxes, kBadTime);
    const auto date = ParseDate(sdate, now.year);
    const std::string today = FormatCalendarDate(CalendarDate{now.year, now.month, now.day});
    if (date && FormatCalendarDate(*date) == today && FormatMinutes(*minutes) <= FormatMinutes(now.hour * 60 + now.minute)) {
        return Warn(boxes, kPastTime);
    }
    return 0;
}

bool ScheduleDue(std::string_view sdate, std::string_view ktime, const LocalDateTime& now) {
    return sdate == FormatCalendarDate(CalendarDate{now.year, now.month, now.day}) &&
           ktime == FormatMinutes(now.hour * 60 + now.minute);
}

}  // namespace edi
