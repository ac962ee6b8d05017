// statement_count: a preloaded library that counts the SQL statements SQLite prepares in the
// process and its children, by their first word, and prints the counts when the process ends.
//   LD_PRELOAD=build-release/bin/statement_count.so build-release/bin/job_bench --runs 1
// Statements that sqlite3_exec runs (the driver's own settings and transaction ends) are counted
// once per call, under the call's first word. The counts go to standard error, or are appended
// to the file STATEMENT_COUNT names.
#include <dlfcn.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

namespace {

std::mutex counts_mutex;
std::map<std::string, long>* counts = nullptr;
thread_local int inside_exec = 0;

void Count(const char* sql) {
    if (sql == nullptr) return;
    while (std::isspace(static_cast<unsigned char>(*sql))) ++sql;
    std::string word;
    while (std::isalpha(static_cast<unsigned char>(*sql))) word += static_cast<char>(std::toupper(*sql++));
    if (word.empty()) return;
    const std::lock_guard<std::mutex> lock(counts_mutex);
    if (counts == nullptr) counts = new std::map<std::string, long>();
    ++(*counts)[word];
}

// The ODBC driver is opened with its own scope, so SQLite's functions are looked up in the
// library itself (already loaded by the time the driver calls them).
template <typename F>
F Next(const char* name) {
    void* library = dlopen("libsqlite3.so.0", RTLD_LAZY | RTLD_NOLOAD);
    void* function = library != nullptr ? dlsym(library, name) : nullptr;
    if (function == nullptr) std::abort();
    return reinterpret_cast<F>(function);
}

__attribute__((destructor)) void Report() {
    if (counts == nullptr) return;
    const char* path = std::getenv("STATEMENT_COUNT");
    FILE* out = path != nullptr ? std::fopen(path, "a") : stderr;
    if (out == nullptr) return;
    long total = 0;
    std::fprintf(out, "statements of process %d:", static_cast<int>(getpid()));
    for (const auto& [word, n] : *counts) {
        std::fprintf(out, " %s %ld", word.c_str(), n);
        total += n;
    }
    std::fprintf(out, " total %ld\n", total);
    if (out != stderr) std::fclose(out);
}

}  // namespace

extern "C" int sqlite3_prepare_v2(sqlite3* db, const char* sql, int bytes, sqlite3_stmt** statement,
                                  const char** tail) {
    static const auto next = Next<int (*)(sqlite3*, const char*, int, sqlite3_stmt**, const char**)>(
        "sqlite3_prepare_v2");
    if (inside_exec == 0) Count(sql);
    return next(db, sql, bytes, statement, tail);
}

extern "C" int sqlite3_exec(sqlite3* db, const char* sql, int (*callback)(void*, int, char**, char**), void* data,
                            char** error) {
    static const auto next =
        Next<int (*)(sqlite3*, const char*, int (*)(void*, int, char**, char**), void*, char**)>("sqlite3_exec");
    Count(sql);
    ++inside_exec;
    const int result = next(db, sql, callback, data, error);
    --inside_exec;
    return result;
}
