// The one ODBC session and its result sets. Speaks std types only: UTF-8 text,
// std::optional for Null. Qt SQL stays inside DbSession.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "startup/Clock.h"
#include "startup/WorkArea.h"

namespace edi {

// A column value: nothing for Null.
using DbValue = std::optional<std::string>;

// A result set opened by OpenQuery or OpenQueryForUpdate. Owns its statement;
// Close() is idempotent and the destructor calls it.
class ResultSet {
public:
    ResultSet();
    ~ResultSet();
    ResultSet(ResultSet&&) noexcept;
    ResultSet& operator=(ResultSet&&) noexcept;

    bool IsOpen() const;
    bool EndOfSet() const;  // true past the last row, and at once for an empty set
    void MoveFirst();
    void MoveNext();
    // The current row's value of a column found by name without regard to case;
    // nothing for Null, for an unknown column or when no row is current. Dates read as
    // "yyyy/mm/dd", times as "hh:mm:ss", decimals as the database writes them.
    DbValue Value(std::string_view column) const;
    bool HasColumn(std::string_view column) const;
    // Edit of the current row of an updatable set, then write-back. A date or time column
    // takes "yyyy/mm/dd" or "yyyy-mm-dd", "hh:mm:ss". Update writes the edited columns of
    // that one row (found by its key as read) and fails when the row no longer matches.
    bool SetValue(std::string_view column, const DbValue& value);
    bool Update();
    void Close();

private:
    friend class DbSession;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class DbSession {
public:
    // Opens a session on an ODBC connect text ("DSN=...;UID=...;PWD=...;") without
    // prompting, login time-out 120 s, query time-out 300 s. Nothing on failure,
    // with the driver's message in error.
    static std::unique_ptr<DbSession> Open(std::string_view connect_string, std::string_view environment_name,
                                           std::string& error);
    ~DbSession();
    DbSession(const DbSession&) = delete;
    DbSession& operator=(const DbSession&) = delete;

    const std::string& LastError() const;

private:
    friend bool OpenQuery(WorkArea&, ResultSet&);
    friend bool OpenQueryForUpdate(WorkArea&, ResultSet&);
    friend bool ExecuteSql(WorkArea&);
    DbSession();
    // Runs sql and leaves result open on its first row; empty tells whether it had none.
    bool OpenSet(const std::string& sql, bool updatable, ResultSet& result, bool& empty);
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The three operations run work.SqlText on work.Db. The two opens set LastOpenEmpty
// to "9" for a set without rows and "0" otherwise, and leave the set open in both cases.
// False on a database failure (no session, a statement the server rejects, a lost
// connection); the caller turns that into its own ResultCode or message.
bool OpenQuery(WorkArea& work, ResultSet& result);
bool OpenQueryForUpdate(WorkArea& work, ResultSet& result);
bool ExecuteSql(WorkArea& work);

// Builds ConnectString from the trimmed DbSource, DbUser, DbPassword and opens work.Db.
bool ConnectDatabase(WorkArea& work);

// SQL literals. Every text value goes through SqlQuote so a quote cannot change a statement.
std::string SqlQuote(std::string_view value);        // 'A''B'
std::string SqlDate(const LocalDateTime& t);          // {d 'yyyy-mm-dd'}
std::string SqlTime(const LocalDateTime& t);          // {t 'hh:mm:ss'}

std::string TrimOrDefault(const DbValue& value, std::string_view fallback);
std::string ValueOrDefault(const DbValue& value, std::string_view fallback);
std::int32_t ByteLength(const DbValue& value);  // code page 932 bytes; 0 for Null

// True when the ODBC driver manager knows a driver of this name (odbcinst.ini).
bool IsOdbcDriverRegistered(std::string_view name);

}  // namespace edi
