#include "startup/DbFailure.h"

#include <cctype>

namespace edi {

namespace {

constexpr std::size_t kStatementShown = 300;

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// The text with ASCII letters in upper case; UTF-8 bytes of other characters stay as they are.
std::string UpperAscii(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        if (static_cast<unsigned char>(c) < 0x80) c = Upper(c);
    }
    return upper;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The word that starts at position i: up to a blank, "," ";" or "(".
std::string WordAt(std::string_view text, std::size_t i) {
    while (i < text.size() && IsSpace(text[i])) ++i;
    std::size_t end = i;
    while (end < text.size() && !IsSpace(text[end]) && text[end] != ',' && text[end] != ';' && text[end] != '(') ++end;
    return std::string(text.substr(i, end - i));
}

// Position just past the keyword, found as a whole word; npos when absent.
std::size_t After(const std::string& upper, std::string_view keyword, std::size_t from = 0) {
    for (std::size_t at = upper.find(keyword, from); at != std::string::npos; at = upper.find(keyword, at + 1)) {
        const bool starts = at == 0 || IsSpace(upper[at - 1]);
        const std::size_t end = at + keyword.size();
        if (starts && (end == upper.size() || IsSpace(upper[end]))) return end;
    }
    return std::string::npos;
}

// Newlines and runs of blanks become one space, so that a report stays on one line.
std::string OneLine(std::string_view text) {
    std::string line;
    for (const char c : text) {
        if (IsSpace(c)) {
            if (!line.empty() && line.back() != ' ') line += ' ';
        } else {
            line += c;
        }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

// At most limit bytes, never ending inside a UTF-8 character.
std::string Cut(std::string text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text + "...";
}

}  // namespace

DbFailure ClassifyDbFailure(std::string_view sqlstate, long native_code, std::string_view message, bool connection_dead,
                            bool sqlite) {
    if (sqlite) {
        // SQLite's result codes: 5 busy, 6 locked, 19 a constraint.
        if (native_code == 5 || native_code == 6) return DbFailure::kBusy;
        if (native_code == 19 && message.find("UNIQUE constraint failed") != std::string_view::npos) {
            return DbFailure::kTaken;
        }
        return DbFailure::kOther;
    }
    if (connection_dead || sqlstate.starts_with("08") || sqlstate == "57P01" || sqlstate == "57P02" ||
        sqlstate == "57P03") {
        return DbFailure::kLost;
    }
    // Lock time-out, statement time-out or cancel, ODBC time-outs, deadlock, serialization.
    if (sqlstate == "55P03" || sqlstate == "57014" || sqlstate == "HYT00" || sqlstate == "HYT01" ||
        sqlstate == "40P01" || sqlstate == "40001") {
        return DbFailure::kBusy;
    }
    if (sqlstate == "23505") return DbFailure::kTaken;
    return DbFailure::kOther;
}

std::string StatementPurpose(std::string_view sql) {
    const std::string upper = UpperAscii(sql);
    const std::string verb = WordAt(upper, 0);
    if (verb == "SELECT") {
        const std::size_t from = After(upper, "FROM");
        if (from != std::string::npos) return "reading " + WordAt(sql, from);
    } else if (verb == "INSERT") {
        const std::size_t into = After(upper, "INTO");
        if (into != std::string::npos) return "adding a row to " + WordAt(sql, into);
    } else if (verb == "UPDATE") {
        return "updating " + WordAt(sql, After(upper, "UPDATE"));
    } else if (verb == "DELETE") {
        const std::size_t from = After(upper, "FROM");
        if (from != std::string::npos) return "deleting from " + WordAt(sql, from);
    }
    std::string word = WordAt(sql, 0);
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word.empty() ? std::string("an empty statement") : word;
}

std::string_view DbFailureCause(DbFailure kind) {
    switch (kind) {
        case DbFailure::kBusy:
            return "the database is busy";
        case DbFailure::kLost:
            return "the connection to the database is lost";
        case DbFailure::kTaken:
            return "the key is already taken";
        case DbFailure::kNone:
        case DbFailure::kOther:
            break;
    }
    return "database error";
}

std::string DbFailureReport(DbFailure kind, std::string_view sql, std::string_view driver_message) {
    std::string report = std::string(DbFailureCause(kind)) + ": ";
    if (sql.empty()) return report + OneLine(driver_message);
    return report + StatementPurpose(sql) + ": " + OneLine(driver_message) +
           " [SQL: " + Cut(OneLine(sql), kStatementShown) + "]";
}

}  // namespace edi
