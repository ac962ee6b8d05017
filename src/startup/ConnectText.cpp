#include "startup/ConnectText.h"

#include <odbcinst.h>

#include <algorithm>
#include <cctype>
#include <vector>

namespace edi {

namespace {

struct Pair {
    std::string key;    // trimmed, as written
    std::string value;  // braces removed
    std::string text;   // the pair as written, without its ";"
};

bool SameKey(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

std::vector<Pair> SplitPairs(std::string_view text) {
    std::vector<Pair> pairs;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = i;
        const std::size_t equals = text.find_first_of("=;", i);
        if (equals == std::string_view::npos || text[equals] == ';') {
            i = equals == std::string_view::npos ? text.size() : equals + 1;
            continue;
        }
        Pair pair;
        pair.key = std::string(Trim(text.substr(start, equals - start)));
        i = equals + 1;
        while (i < text.size() && text[i] == ' ') ++i;
        if (i < text.size() && text[i] == '{') {
            for (++i; i < text.size(); ++i) {
                if (text[i] != '}') {
                    pair.value += text[i];
                } else if (i + 1 < text.size() && text[i + 1] == '}') {
                    pair.value += '}';
                    ++i;
                } else {
                    ++i;
                    break;
                }
            }
            const std::size_t end = text.find(';', i);
            i = end == std::string_view::npos ? text.size() : end;
        } else {
            const std::size_t end = text.find(';', i);
            const std::size_t stop = end == std::string_view::npos ? text.size() : end;
            pair.value = std::string(Trim(text.substr(i, stop - i)));
            i = stop;
        }
        pair.text = std::string(text.substr(start, i - start));
        if (i < text.size()) ++i;  // the ";"
        if (!pair.key.empty()) pairs.push_back(std::move(pair));
    }
    return pairs;
}

std::string ProfileValue(const std::string& section, const char* key, const char* file) {
    char value[1024] = {};
    if (SQLGetPrivateProfileString(section.c_str(), key, "", value, sizeof value, file) <= 0) return {};
    return value;
}

bool NamesSqlite(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text.find("sqlite") != std::string::npos;
}

}  // namespace

std::string ConnectValueText(std::string_view value) {
    if (value.find_first_of(";{}") == std::string_view::npos) return std::string(value);
    std::string braced = "{";
    for (const char c : value) {
        braced += c;
        if (c == '}') braced += '}';
    }
    braced += '}';
    return braced;
}

std::optional<std::string> ConnectValue(std::string_view connect_text, std::string_view key) {
    for (const Pair& pair : SplitPairs(connect_text)) {
        if (SameKey(pair.key, key)) return pair.value;
    }
    return std::nullopt;
}

bool IsSqliteDataSource(std::string_view connect_text) {
    std::string driver = ConnectValue(connect_text, "DRIVER").value_or("");
    if (driver.empty()) {
        const std::string dsn = ConnectValue(connect_text, "DSN").value_or("");
        if (dsn.empty()) return false;
        driver = ProfileValue(dsn, "Driver", "odbc.ini");
    }
    if (driver.empty()) return false;
    // A driver registered in odbcinst.ini is named; its entry gives the library.
    const std::string library = ProfileValue(driver, "Driver", "odbcinst.ini");
    return NamesSqlite(library.empty() ? driver : library);
}

std::string DriverConnectText(std::string_view connect_text, std::chrono::milliseconds busy_wait) {
    if (!IsSqliteDataSource(connect_text)) return std::string(connect_text);
    std::string text;
    bool has_timeout = false;
    for (const Pair& pair : SplitPairs(connect_text)) {
        if (SameKey(pair.key, "UID") || SameKey(pair.key, "PWD")) continue;
        if (SameKey(pair.key, "Timeout")) has_timeout = true;
        text += pair.text + ";";
    }
    if (!has_timeout) text += "Timeout=" + std::to_string(busy_wait.count()) + ";";
    return text;
}

}  // namespace edi
