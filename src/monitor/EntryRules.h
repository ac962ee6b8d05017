// What the run-date and start-time fields accept, how a typed value is normalised,
// and the checks a value passes before a schedule can be armed. Toolkit-free: the
// screen hands in texts, the clock's time and its message seam.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "startup/Clock.h"
#include "startup/MessageBox.h"

namespace edi {

// Kind codes of the entry fields.
inline constexpr char kDateKind = 'B';  // SDATE, "yyyy/mm/dd", 10 bytes
inline constexpr char kTimeKind = 'C';  // KTIME, "hh:mm", 5 bytes

inline constexpr const char* kBadDate = "日付が不正です";
inline constexpr const char* kPastDate = "過去の日付は入力できません";
inline constexpr const char* kBadTime = "時刻が不正です";
inline constexpr const char* kPastTime = "過去の時刻は入力できません";

struct CalendarDate {
    int year = 0;
    int month = 0;
    int day = 0;
};

// True when the typed character may enter a field of the kind; Backspace and Enter always may.
bool FilterKey(char kind, char32_t typed);

// The date parser: y/m/d with a one- or two-digit year widened (00-29 to 2000-2029,
// 30-99 to 1930-1999) or a four-digit year, and m/d in the given current year.
std::optional<CalendarDate> ParseDate(std::string_view text, int current_year);
// The time parser: h:m or h:m:s with one or two digits each.
std::optional<int> ParseTimeMinutes(std::string_view text);

// The text a field holds after normalisation (on Enter or a full field).
std::string NormaliseDate(std::string_view text, int current_year);
std::string NormaliseTime(std::string_view text);

// 0 when valid; 9 after the field's message (OK button, exclamation icon).
int CheckDate(std::string_view sdate, const LocalDateTime& now, MessageBoxes& boxes);
int CheckTime(std::string_view sdate, std::string_view ktime, const LocalDateTime& now, MessageBoxes& boxes);

// The armed schedule's test on every tick: today and the current minute as texts.
bool ScheduleDue(std::string_view sdate, std::string_view ktime, const LocalDateTime& now);

}  // namespace edi
