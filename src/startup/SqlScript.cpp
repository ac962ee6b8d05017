#include "startup/SqlScript.h"

#include "startup/DbSession.h"

namespace edi {

namespace {

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::vector<std::string> SplitSqlScript(std::string_view script) {
    std::vector<std::string> statements;
    std::string current;
    auto finish = [&] {
        std::string statement = Trimmed(current);
        if (!statement.empty()) statements.push_back(std::move(statement));
        current.clear();
    };
    std::size_t i = 0;
    while (i < script.size()) {
        const char c = script[i];
        if (c == '\'' || c == '"') {
            // A doubled quote inside stays part of the text.
            const std::size_t start = i++;
            while (i < script.size()) {
                if (script[i] == c) {
                    if (i + 1 < script.size() && script[i + 1] == c) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
            current.append(script.substr(start, i - start));
        } else if (c == '-' && i + 1 < script.size() && script[i + 1] == '-') {
            while (i < script.size() && script[i] != '\n') ++i;
        } else if (c == '/' && i + 1 < script.size() && script[i + 1] == '*') {
            const std::size_t end = script.find("*/", i + 2);
            i = end == std::string_view::npos ? script.size() : end + 2;
            current += ' ';
        } else if (c == ';') {
            finish();
            ++i;
        } else {
            current += c;
            ++i;
        }
    }
    finish();
    return statements;
}

bool RunSqlScript(WorkArea& work, std::string_view script, std::string& error) {
    for (const std::string& statement : SplitSqlScript(script)) {
        work.SqlText = statement;
        if (!ExecuteSql(work)) {
            error = (work.Db ? work.Db->LastError() : std::string("no database session")) + "\n  in: " + statement;
            return false;
        }
    }
    error.clear();
    return true;
}

}  // namespace edi
