// The ODBC session over Qt SQL's QODBC driver on unixODBC. Everything Qt stays in this file.
#include "startup/DbSession.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <langinfo.h>
#include <link.h>
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>
#include <QTime>
#include <QVariant>
#include <atomic>
#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cerrno>
#include <exception>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "convert/codec/Codec.h"
#include "convert/codec/ErrorLog.h"
#include "startup/ConnectText.h"

namespace edi {

namespace {

constexpr int kLoginTimeoutSeconds = 120;
constexpr long kQueryTimeoutSeconds = 300;

QString ToQString(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

std::string ToStdString(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// The driver's own message; Qt's words ("QODBC: Unable to execute statement") only without one.
std::string ErrorText(const QSqlError& error) {
    std::string text = ToStdString(error.databaseText().trimmed());
    if (text.empty()) text = ToStdString(error.text());
    return text.empty() ? std::string("database error") : text;
}

// The driver manager converts between the wide calls Qt makes and drivers that only take
// narrow text (the SQLite3 driver) with the C library's character set. Under the "C" locale
// every Japanese name would be lost, so the character type is made UTF-8 when it is not.
void EnsureUtf8CharacterType() {
    const char* codeset = nl_langinfo(CODESET);
    if (codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0) return;
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::setlocale(LC_CTYPE, "en_US.UTF-8");
}

// Qt finds the QODBC plugin through its library paths; when that fails without an
// application object, one is made for the rest of the process and the load is retried.
bool EnsureApplicationObject() {
    if (QCoreApplication::instance() != nullptr) return false;
    static int argc = 1;
    static char name[] = "k500100";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* application = new QCoreApplication(argc, argv);
    return application != nullptr;
}

// unixODBC unloads a driver (and its own installer library, odbcinst) with the last
// connection and loads them again for the next one. They stay loaded for the life of the
// process instead, which also keeps their code readable in leak reports: every loaded
// object named "...odbc..." other than the driver manager itself.
void KeepOdbcDriversLoaded() {
    std::vector<std::string> drivers;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            const std::string_view path = info->dlpi_name != nullptr ? info->dlpi_name : "";
            const std::string_view name = path.substr(path.find_last_of('/') + 1);
            if (name.find("odbc") != std::string_view::npos && name.rfind("libodbc.so", 0) != 0) {
                static_cast<std::vector<std::string>*>(data)->emplace_back(path);
            }
            return 0;
        },
        &drivers);
    for (const std::string& driver : drivers) dlopen(driver.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

// Narrow drivers report a column name's length in bytes of UTF-8 while the driver manager
// hands Qt UTF-16 units; the name ends at the first NUL.
QString CleanColumnName(QString name) {
    const qsizetype nul = name.indexOf(QChar(0));
    if (nul >= 0) name.truncate(nul);
    return name;
}

// QODBC hands a database name holding "DRIVER=" or "SERVER=" to the driver manager as it
// stands and puts "DSN=" in front of any other, so a "DSN=..." text loses its own prefix.
QString QODBCDatabaseName(const QString& connect_string) {
    const bool passed_as_is = connect_string.contains(QStringLiteral("DRIVER="), Qt::CaseInsensitive) ||
                              connect_string.contains(QStringLiteral("SERVER="), Qt::CaseInsensitive);
    if (!passed_as_is && connect_string.startsWith(QStringLiteral("DSN="), Qt::CaseInsensitive)) {
        return connect_string.mid(4);
    }
    return connect_string;
}

// The ODBC handle behind a Qt handle variant; null when there is none.
SQLHANDLE OdbcHandle(const QVariant& handle) {
    if (!handle.isValid() || handle.metaType().sizeOf() != sizeof(SQLHANDLE)) return nullptr;
    return *static_cast<const SQLHANDLE*>(handle.constData());
}

// The first diagnostic record of a handle: SQLSTATE and the driver's native code.
struct Diagnostic {
    std::string state;
    long native = 0;
};

Diagnostic FirstDiagnostic(SQLSMALLINT type, SQLHANDLE handle) {
    Diagnostic diagnostic;
    if (handle == nullptr) return diagnostic;
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[8];
    SQLSMALLINT length = 0;
    const SQLRETURN r = SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length);
    if (SQL_SUCCEEDED(r)) {
        diagnostic.state = reinterpret_cast<const char*>(state);
        diagnostic.native = native;
    }
    return diagnostic;
}

// The driver's message of a handle's first diagnostic record.
std::string DiagnosticText(SQLSMALLINT type, SQLHANDLE handle) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[1024] = {};
    SQLSMALLINT length = 0;
    if (handle == nullptr ||
        !SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length))) {
        return "the transaction could not be committed";
    }
    return reinterpret_cast<const char*>(message);
}

bool ConnectionDead(SQLHDBC connection) {
    if (connection == nullptr) return false;
    SQLUINTEGER dead = SQL_CD_FALSE;
    return SQL_SUCCEEDED(SQLGetConnectAttr(connection, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
           dead == SQL_CD_TRUE;
}

std::string DbmsName(SQLHDBC connection) {
    SQLCHAR name[128] = {};
    SQLSMALLINT length = 0;
    if (connection == nullptr || !SQL_SUCCEEDED(SQLGetInfo(connection, SQL_DBMS_NAME, name, sizeof name, &length))) {
        return {};
    }
    return reinterpret_cast<const char*>(name);
}

enum class ColumnKind { kOther, kDate, kTime, kTimestamp };

ColumnKind KindOf(const QSqlField& field) {
    switch (field.metaType().id()) {
        case QMetaType::QDate:
            return ColumnKind::kDate;
        case QMetaType::QTime:
            return ColumnKind::kTime;
        case QMetaType::QDateTime:
            return ColumnKind::kTimestamp;
        default:
            return ColumnKind::kOther;
    }
}

DbValue ToDbValue(const QVariant& value) {
    if (!value.isValid() || value.isNull()) return std::nullopt;
    switch (value.metaType().id()) {
        case QMetaType::QDate:
            return ToStdString(value.toDate().toString(QStringLiteral("yyyy/MM/dd")));
        case QMetaType::QTime:
            return ToStdString(value.toTime().toString(QStringLiteral("HH:mm:ss")));
        case QMetaType::QDateTime:
            return ToStdString(value.toDateTime().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")));
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        }
        case QMetaType::Double:
        case QMetaType::Float:
            return ToStdString(QString::number(value.toDouble(), 'g', 15));
        default:
            return ToStdString(value.toString());
    }
}

std::optional<QDate> ParseDate(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d{4})[/-](\\d{1,2})[/-](\\d{1,2})\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) return std::nullopt;
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    if (!date.isValid()) return std::nullopt;
    return date;
}

std::optional<QTime> ParseTime(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d{1,2}):(\\d{2})(?::(\\d{2}))?\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) return std::nullopt;
    const QTime time(match.captured(1).toInt(), match.captured(2).toInt(),
                     match.captured(3).isEmpty() ? 0 : match.captured(3).toInt());
    if (!time.isValid()) return std::nullopt;
    return time;
}

// A value as an SQL literal for a column of the given kind; nothing when a date or time
// column is given a text that is not one.
std::optional<std::string> Literal(const DbValue& value, ColumnKind kind) {
    if (!value) return std::string("NULL");
    const QString text = ToQString(*value);
    switch (kind) {
        case ColumnKind::kDate: {
            const std::optional<QDate> date = ParseDate(text);
            if (!date) return std::nullopt;
            return ToStdString(QStringLiteral("{d '%1'}").arg(date->toString(QStringLiteral("yyyy-MM-dd"))));
        }
        case ColumnKind::kTime: {
            const std::optional<QTime> time = ParseTime(text);
            if (!time) return std::nullopt;
            return ToStdString(QStringLiteral("{t '%1'}").arg(time->toString(QStringLiteral("HH:mm:ss"))));
        }
        case ColumnKind::kTimestamp: {
            const qsizetype blank = text.trimmed().indexOf(QLatin1Char(' '));
            if (blank < 0) return std::nullopt;
            const std::optional<QDate> date = ParseDate(text.trimmed().left(blank));
            const std::optional<QTime> time = ParseTime(text.trimmed().mid(blank + 1));
            if (!date || !time) return std::nullopt;
            return ToStdString(
                QStringLiteral("{ts '%1 %2'}")
                    .arg(date->toString(QStringLiteral("yyyy-MM-dd")), time->toString(QStringLiteral("HH:mm:ss"))));
        }
        case ColumnKind::kOther:
            break;
    }
    return SqlQuote(*value);
}

// The statement's first word in capitals.
std::string FirstWord(std::string_view sql) {
    std::size_t i = 0;
    while (i < sql.size() && (sql[i] == ' ' || sql[i] == '\t' || sql[i] == '\r' || sql[i] == '\n')) ++i;
    std::string word;
    while (i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i]))) {
        word += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[i++])));
    }
    return word;
}

// INSERT, UPDATE and DELETE: the statements that held writes keep for one commit.
bool IsWrite(std::string_view sql) {
    const std::string word = FirstWord(sql);
    return word == "INSERT" || word == "UPDATE" || word == "DELETE";
}

std::string QuoteIdentifier(const QString& name) {
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return ToStdString(QLatin1Char('"') + quoted + QLatin1Char('"'));
}

// The table an updatable set reads: the name after the first FROM.
QString TableOf(const QString& sql) {
    static const QRegularExpression pattern(QStringLiteral("\\bFROM\\s+(\"[^\"]+\"|[^\\s,;()]+)"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(sql);
    return match.hasMatch() ? match.captured(1) : QString();
}

}  // namespace

// What a session and the result sets opened on it share; outlives the session while a set
// still holds it, so that a set used after its session ended fails instead of crashing.
struct SessionState {
    QString name;
    QSqlDatabase db;
    bool open = false;
    std::string last_error;
    std::map<QString, QStringList> keys;   // primary-key columns by table, as the driver reports them
    std::vector<QSqlQuery*> live_queries;  // statements of open sets, ended before the connection closes

    std::string connect_text;  // as the session was opened with, for Reopen
    std::string environment;
    int generation = 0;  // counts connections; a set of an earlier one fails
    bool sqlite = false;
    bool postgresql = false;
    std::chrono::milliseconds busy_wait = kBusyWait;
    DbFailure last_failure = DbFailure::kNone;
    std::string last_report;
    DbFailure first_failure = DbFailure::kNone;  // since the last ForgetFailures
    std::string first_report;
    std::function<void(const std::string&)> echo;
    bool durability_pending = false;  // SQLite's journal and flush settings wait for the first write
    // SQLite's write-ahead log when the session flushes it itself (the file then runs with
    // synchronous = NORMAL); empty when SQLite flushes every commit (synchronous = FULL).
    std::string wal_file;
    bool commit_unflushed = false;  // a deferred commit waits for the next flush (FlushCommits)
    bool hold_writes = false;     // a write opens a transaction that waits for CommitWrites
    bool in_transaction = false;  // autocommit is off: statements run in the held transaction
    int held_writes = 0;          // writes that succeeded in it

    SQLHDBC Connection() const { return db.isOpen() ? OdbcHandle(db.driver()->handle()) : nullptr; }

    void Succeeded() {
        last_failure = DbFailure::kNone;
        last_report.clear();
    }

    // Records a failure of the statement sql: its kind from the statement's (or the
    // connection's) diagnostics, the driver's message, one ERR.LOG line unless the key was
    // only taken, and the echo.
    void Failed(const std::string& sql, const std::string& message, const QSqlQuery* query,
                const std::filesystem::path& log_file) {
        SQLHANDLE statement =
            query != nullptr && query->result() != nullptr ? OdbcHandle(query->result()->handle()) : nullptr;
        const Diagnostic diagnostic = statement != nullptr ? FirstDiagnostic(SQL_HANDLE_STMT, statement) : Diagnostic{};
        const bool dead = !open || ConnectionDead(Connection());
        Record(ClassifyDbFailure(diagnostic.state, diagnostic.native, message, dead, sqlite && open), sql, message,
               log_file);
    }

    void Record(DbFailure kind, const std::string& sql, std::string message, const std::filesystem::path& log_file) {
        // A failure inside held writes undoes them all at once (PostgreSQL would refuse every
        // later statement of the transaction anyway). A key taken by another session is then
        // a failure too: the writes before it are gone.
        if (in_transaction) {
            const bool undone = held_writes > 0;
            EndTransaction(false);
            if (kind == DbFailure::kTaken && undone) {
                kind = DbFailure::kOther;
                message += " (the writes held before it were undone)";
            }
        }
        last_error = message;
        last_failure = kind;
        last_report = DbFailureReport(kind, sql, message);
        if (kind == DbFailure::kTaken) return;
        if (first_failure == DbFailure::kNone) {
            first_failure = kind;
            first_report = last_report;
        }
        Report(9999, last_report, log_file);
    }

    void Report(std::int32_t code, const std::string& line, const std::filesystem::path& log_file) {
        if (!log_file.empty()) {
            ConversionLog log{log_file, {}};
            WriteErrorLog(log, code, line, 1);
        }
        if (echo) echo(line);
    }

    // Turns autocommit off before the first held write; false when the driver refuses (the
    // write then commits on its own).
    bool BeginTransaction() {
        SQLHDBC connection = Connection();
        if (connection == nullptr ||
            !SQL_SUCCEEDED(SQLSetConnectAttr(connection, SQL_ATTR_AUTOCOMMIT,
                                             reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_AUTOCOMMIT_OFF)), 0))) {
            return false;
        }
        in_transaction = true;
        held_writes = 0;
        return true;
    }

    // Commits or rolls back the held transaction and turns autocommit on again. A failed
    // commit leaves its diagnostic in diagnostic and message, and the transaction rolled back.
    bool EndTransaction(bool commit, Diagnostic* diagnostic = nullptr, std::string* message = nullptr) {
        SQLHDBC connection = Connection();
        in_transaction = false;
        held_writes = 0;
        if (connection == nullptr) return !commit;
        bool ended = SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, connection, commit ? SQL_COMMIT : SQL_ROLLBACK));
        if (!ended && commit) {
            if (diagnostic != nullptr) *diagnostic = FirstDiagnostic(SQL_HANDLE_DBC, connection);
            if (message != nullptr) *message = DiagnosticText(SQL_HANDLE_DBC, connection);
            SQLEndTran(SQL_HANDLE_DBC, connection, SQL_ROLLBACK);
        }
        SQLSetConnectAttr(connection, SQL_ATTR_AUTOCOMMIT,
                          reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_AUTOCOMMIT_ON)), 0);
        return ended;
    }

    // Ends every statement and the connection itself.
    void Disconnect() {
        open = false;
        // A driver does not let a connection go while one of its statements is unfinished, nor
        // inside a transaction: what was held is undone.
        for (QSqlQuery* query : live_queries) *query = QSqlQuery();
        live_queries.clear();
        if (in_transaction) EndTransaction(false);
        keys.clear();
        if (db.isValid()) db.close();
        db = QSqlDatabase();
        if (!name.isEmpty()) QSqlDatabase::removeDatabase(name);
        name.clear();
    }

    bool Connect(std::string& error);
    bool Run(const QString& sql, std::string& error);
    bool SetDurability(QSqlQuery* failed = nullptr);
    bool FlushLog(const std::filesystem::path& log_file);
};

struct DbSession::Impl {
    std::shared_ptr<SessionState> state;
};

struct ResultSet::Impl {
    ~Impl() {
        if (state) std::erase(state->live_queries, &query);
    }

    std::shared_ptr<SessionState> state;
    int generation = 0;
    std::filesystem::path log_file;
    QSqlQuery query;
    QString sql;
    bool updatable = false;
    bool at_row = false;
    long position = -1;  // index of the current row, -1 before the first
    std::vector<QString> names;
    std::vector<ColumnKind> kinds;
    std::vector<DbValue> row;
    std::vector<DbValue> original;  // the current row as read, to find it again on write-back
    std::vector<bool> edited;

    int IndexOf(std::string_view column) const {
        const QString wanted = ToQString(column);
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i].compare(wanted, Qt::CaseInsensitive) == 0) return static_cast<int>(i);
        }
        return -1;
    }

    // A write-back that cannot be made: reported as a failed update of the set's table.
    void Fail(const std::string& message) {
        if (state) state->Record(DbFailure::kOther, "UPDATE " + ToStdString(TableOf(sql)), message, log_file);
    }

    // The session is open on the connection this set was opened on.
    bool Usable() {
        if (state && state->open && state->generation == generation) return true;
        if (state) state->Record(DbFailure::kLost, ToStdString(sql), "the database session is closed", log_file);
        return false;
    }

    bool Fetch() {
        row.clear();
        original.clear();
        edited.assign(names.size(), false);
        if (!query.isActive() || !query.next()) {
            if (query.isActive() && query.lastError().type() != QSqlError::NoError && state) {
                state->Failed(ToStdString(sql), ErrorText(query.lastError()), &query, log_file);
            }
            at_row = false;
            return false;
        }
        at_row = true;
        ++position;
        row.reserve(names.size());
        for (std::size_t i = 0; i < names.size(); ++i) row.push_back(ToDbValue(query.value(static_cast<int>(i))));
        original = row;
        return true;
    }

    bool Execute() {
        position = -1;
        at_row = false;
        if (!Usable()) return false;
        if (!query.exec(sql)) {
            state->Failed(ToStdString(sql), ErrorText(query.lastError()), &query, log_file);
            return false;
        }
        if (!query.isSelect()) {
            state->Record(DbFailure::kOther, ToStdString(sql), "the statement returned no result set", log_file);
            return false;
        }
        state->Succeeded();
        const QSqlRecord record = query.record();
        names.clear();
        kinds.clear();
        for (int i = 0; i < record.count(); ++i) {
            names.push_back(CleanColumnName(record.fieldName(i)));
            kinds.push_back(KindOf(record.field(i)));
        }
        Fetch();
        return true;
    }

    // The columns that find the current row again: the table's primary key when the set
    // holds all of it, else every column of the set.
    std::vector<int> KeyColumns(const QString& table) {
        auto found = state->keys.find(table);
        if (found == state->keys.end()) {
            QStringList key_names;
            const QSqlIndex index = state->db.primaryIndex(table);
            for (int i = 0; i < index.count(); ++i) key_names.push_back(CleanColumnName(index.fieldName(i)));
            found = state->keys.emplace(table, key_names).first;
        }
        std::vector<int> columns;
        for (const QString& key : found->second) {
            const int column = IndexOf(ToStdString(key));
            if (column < 0) {
                columns.clear();
                break;
            }
            columns.push_back(column);
        }
        if (columns.empty()) {
            for (std::size_t i = 0; i < names.size(); ++i) columns.push_back(static_cast<int>(i));
        }
        return columns;
    }
};

ResultSet::ResultSet() = default;
ResultSet::~ResultSet() { Close(); }
ResultSet::ResultSet(ResultSet&&) noexcept = default;
ResultSet& ResultSet::operator=(ResultSet&& other) noexcept {
    if (this != &other) {
        Close();
        impl_ = std::move(other.impl_);
    }
    return *this;
}

bool ResultSet::IsOpen() const { return impl_ != nullptr; }

bool ResultSet::EndOfSet() const { return impl_ == nullptr || !impl_->at_row; }

void ResultSet::MoveFirst() {
    if (impl_ == nullptr || impl_->position <= 0) return;
    // The statement runs forward only; going back to the first row runs it again.
    if (!impl_->Execute()) impl_->at_row = false;
}

void ResultSet::MoveNext() {
    if (impl_ == nullptr || !impl_->at_row) return;
    impl_->Fetch();
}

DbValue ResultSet::Value(std::string_view column) const {
    if (impl_ == nullptr || !impl_->at_row) return std::nullopt;
    const int index = impl_->IndexOf(column);
    if (index < 0) return std::nullopt;
    return impl_->row[static_cast<std::size_t>(index)];
}

bool ResultSet::HasColumn(std::string_view column) const { return impl_ != nullptr && impl_->IndexOf(column) >= 0; }

bool ResultSet::SetValue(std::string_view column, const DbValue& value) {
    if (impl_ == nullptr || !impl_->updatable || !impl_->at_row) return false;
    const int index = impl_->IndexOf(column);
    if (index < 0) {
        impl_->Fail("no column " + std::string(column) + " in the result set");
        return false;
    }
    impl_->row[static_cast<std::size_t>(index)] = value;
    impl_->edited[static_cast<std::size_t>(index)] = true;
    return true;
}

bool ResultSet::Update() {
    if (impl_ == nullptr || !impl_->updatable || !impl_->at_row) return false;
    Impl& set = *impl_;
    if (!set.Usable()) return false;
    try {
        std::string assignments;
        for (std::size_t i = 0; i < set.names.size(); ++i) {
            if (!set.edited[i]) continue;
            const std::optional<std::string> literal = Literal(set.row[i], set.kinds[i]);
            if (!literal) {
                set.Fail("not a date or time for column " + ToStdString(set.names[i]) + ": " + set.row[i].value_or(""));
                return false;
            }
            if (!assignments.empty()) assignments += ", ";
            assignments += QuoteIdentifier(set.names[i]) + " = " + *literal;
        }
        if (assignments.empty()) return true;
        const QString table = TableOf(set.sql);
        if (table.isEmpty()) {
            set.Fail("no table to write the row back to");
            return false;
        }
        std::string condition;
        for (const int column : set.KeyColumns(table)) {
            const std::size_t i = static_cast<std::size_t>(column);
            if (!condition.empty()) condition += " AND ";
            if (!set.original[i]) {
                condition += QuoteIdentifier(set.names[i]) + " IS NULL";
                continue;
            }
            const std::optional<std::string> literal = Literal(set.original[i], set.kinds[i]);
            if (!literal) {
                set.Fail("cannot compare column " + ToStdString(set.names[i]));
                return false;
            }
            condition += QuoteIdentifier(set.names[i]) + " = " + *literal;
        }
        const std::string sql = "UPDATE " + ToStdString(table) + " SET " + assignments + " WHERE " + condition;
        QSqlQuery statement(set.state->db);
        if (!statement.exec(ToQString(sql))) {
            set.state->Failed(sql, ErrorText(statement.lastError()), &statement, set.log_file);
            return false;
        }
        if (statement.numRowsAffected() < 1) {
            set.state->Record(DbFailure::kOther, sql, "the row was changed or removed by another session",
                              set.log_file);
            return false;
        }
        if (!set.state->in_transaction && !set.state->FlushLog(set.log_file)) return false;
        set.state->Succeeded();
        set.original = set.row;
        set.edited.assign(set.names.size(), false);
        return true;
    } catch (const std::exception& e) {
        set.Fail(e.what());
        return false;
    }
}

void ResultSet::Close() {
    if (impl_ == nullptr) return;
    impl_->query.finish();
    impl_->query = QSqlQuery();
    impl_.reset();
}

DbSession::DbSession() : impl_(std::make_unique<Impl>()) {}

DbSession::~DbSession() {
    if (impl_ == nullptr || !impl_->state) return;
    impl_->state->Disconnect();
}

// A file that cannot switch to the write-ahead log (another session reading it in the old
// mode, a folder where the log cannot be made) stays as it is, and SQLite flushes each of its
// commits. In the log's mode SQLite flushes the log only before a checkpoint, and the session
// flushes it after each commit that must be on disk (FlushLog): a commit deferred to the next
// one costs no flush. failed, when given, keeps the statement that failed for its diagnostics.
bool SessionState::SetDurability(QSqlQuery* failed) {
    wal_file.clear();
    QSqlQuery mode(db);
    const bool wal = mode.exec(QStringLiteral("PRAGMA journal_mode = WAL")) && mode.next() &&
                     mode.value(0).toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) == 0;
    std::string file;
    QSqlQuery databases(db);
    if (wal && databases.exec(QStringLiteral("PRAGMA database_list"))) {
        while (databases.next()) {
            if (databases.value(1).toString() == QStringLiteral("main")) file = ToStdString(databases.value(2).toString());
        }
    }
    QSqlQuery statement(db);
    if (statement.exec(file.empty() ? QStringLiteral("PRAGMA synchronous = FULL")
                                    : QStringLiteral("PRAGMA synchronous = NORMAL"))) {
        if (!file.empty()) wal_file = file + "-wal";
        return true;
    }
    if (failed != nullptr) *failed = std::move(statement);
    return false;
}

// Puts what was committed to the write-ahead log on disk, as SQLite does after each commit with
// synchronous = FULL. A failure is recorded: the commit stands, but nothing may act on it.
// The log is written in order, so the flush carries every deferred commit before it.
bool SessionState::FlushLog(const std::filesystem::path& log_file) {
    if (wal_file.empty()) {
        commit_unflushed = false;
        return true;
    }
    const int fd = ::open(wal_file.c_str(), O_RDONLY | O_CLOEXEC);
    const bool flushed = fd >= 0 && ::fdatasync(fd) == 0;
    const std::string reason = flushed ? "" : std::strerror(errno);
    if (fd >= 0) ::close(fd);
    if (!flushed) Record(DbFailure::kOther, "COMMIT", "cannot flush " + wal_file + ": " + reason, log_file);
    if (flushed) commit_unflushed = false;
    return flushed;
}

// Runs a statement of the session's own (a setting), without a report of its failure.
bool SessionState::Run(const QString& sql, std::string& error) {
    QSqlQuery statement(db);
    if (statement.exec(sql)) return true;
    error = ErrorText(statement.lastError());
    return false;
}

bool SessionState::Connect(std::string& error) {
    static std::atomic<int> serial{0};
    name = ToQString(environment) + QStringLiteral("#") + QString::number(++serial);
    db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name);
    if (!db.isValid() && EnsureApplicationObject()) {
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), name);
    }
    if (!db.isValid()) {
        error = "the Qt ODBC driver (QODBC) is not available";
        Disconnect();
        return false;
    }
    const QString driver_text = ToQString(DriverConnectText(connect_text, busy_wait / 2));
    // QODBC takes any database name holding ".dsn" for the name of a file data source.
    if (driver_text.contains(QStringLiteral(".dsn"), Qt::CaseInsensitive) && !ConnectValue(connect_text, "FILEDSN")) {
        error = "a connect text holding \".dsn\" cannot be passed through the Qt ODBC driver";
        Disconnect();
        return false;
    }
    db.setDatabaseName(QODBCDatabaseName(driver_text));
    db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(kLoginTimeoutSeconds));
    if (!db.open()) {
        error = ErrorText(db.lastError());
        Disconnect();
        return false;
    }
    KeepOdbcDriversLoaded();
    // The query time-out set on the connection applies to every statement opened on it.
    SQLHDBC connection = Connection();
    if (connection != nullptr) {
        SQLSetConnectAttr(connection, SQL_ATTR_QUERY_TIMEOUT,
                          reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(kQueryTimeoutSeconds)), 0);
    }
    const std::string dbms = DbmsName(connection);
    sqlite = dbms == "SQLite";
    postgresql = dbms == "PostgreSQL";
    wal_file.clear();
    bool ready = true;
    if (sqlite) {
        // Per lock request; the driver's own busy time-out (the connect text's) is the same.
        ready = Run(QStringLiteral("PRAGMA busy_timeout = %1").arg((busy_wait / 2).count()), error);
        // The file keeps a write-ahead log (a setting stored in the file: a database made
        // before, or by another tool, takes it at its next connection), and every commit that
        // must be is on disk before it returns. Both need the file: one held by another session now is
        // set before this session's first write, which fails as busy if it is still held.
        durability_pending = ready && !SetDurability();
    } else if (postgresql) {
        // With standard_conforming_strings off a backslash would end a quoted text early;
        // the setting is made for the session whatever the server, role or database says.
        QSqlQuery check(db);
        ready = Run(QStringLiteral("SET lock_timeout = %1").arg(busy_wait.count()), error) &&
                Run(QStringLiteral("SET standard_conforming_strings = on"), error) &&
                check.exec(QStringLiteral("SHOW standard_conforming_strings")) && check.next() &&
                check.value(0).toString() == QStringLiteral("on");
        if (!ready && error.empty()) error = "the server keeps standard_conforming_strings off";
    }
    if (!ready) {
        Disconnect();
        return false;
    }
    open = true;
    ++generation;
    Succeeded();
    return true;
}

std::unique_ptr<DbSession> DbSession::Open(std::string_view connect_string, std::string_view environment_name,
                                           std::string& error, std::chrono::milliseconds busy_wait) {
    try {
        EnsureUtf8CharacterType();
        error.clear();
        // unixODBC falls back to some data source of odbc.ini for an empty name; without a
        // name or a driver there is nothing to connect to.
        if (!ConnectValue(connect_string, "DRIVER") && !ConnectValue(connect_string, "FILEDSN") &&
            ConnectValue(connect_string, "DSN").value_or("").empty()) {
            error = "no data source name in the connect string";
            return nullptr;
        }
        std::unique_ptr<DbSession> session(new DbSession());
        session->impl_->state = std::make_shared<SessionState>();
        SessionState& state = *session->impl_->state;
        state.connect_text = std::string(connect_string);
        state.environment = std::string(environment_name);
        state.busy_wait = busy_wait;
        if (!state.Connect(error)) return nullptr;
        return session;
    } catch (const std::exception& e) {
        error = e.what();
        return nullptr;
    }
}

bool DbSession::Reopen(std::string& error) {
    SessionState& state = *impl_->state;
    try {
        error.clear();
        state.Disconnect();
        if (state.Connect(error)) return true;
    } catch (const std::exception& e) {
        error = e.what();
    }
    state.last_error = error;
    state.last_failure = DbFailure::kLost;
    return false;
}

const std::string& DbSession::LastError() const {
    static const std::string kNone;
    return impl_ && impl_->state ? impl_->state->last_error : kNone;
}

DbFailure DbSession::LastFailure() const { return impl_->state->last_failure; }

const std::string& DbSession::LastReport() const { return impl_->state->last_report; }

DbFailure DbSession::FirstFailure() const { return impl_->state->first_failure; }

const std::string& DbSession::FirstReport() const { return impl_->state->first_report; }

void DbSession::ForgetFailures() {
    impl_->state->first_failure = DbFailure::kNone;
    impl_->state->first_report.clear();
}

void DbSession::SetReportEcho(std::function<void(const std::string&)> echo) { impl_->state->echo = std::move(echo); }

bool DbSession::OpenSet(const std::string& sql, bool updatable, ResultSet& result, bool& empty,
                        const std::filesystem::path& log_file) {
    result.Close();
    SessionState& state = *impl_->state;
    try {
        auto set = std::make_unique<ResultSet::Impl>();
        set->state = impl_->state;
        set->generation = state.generation;
        set->log_file = log_file;
        set->sql = ToQString(sql);
        set->updatable = updatable;
        if (!set->Usable()) return false;
        set->query = QSqlQuery(state.db);
        set->query.setForwardOnly(true);
        set->query.setNumericalPrecisionPolicy(QSql::HighPrecision);
        state.live_queries.push_back(&set->query);
        if (!set->Execute()) return false;
        empty = !set->at_row;
        result.impl_ = std::move(set);
        return true;
    } catch (const std::exception& e) {
        state.Record(DbFailure::kOther, sql, e.what(), log_file);
        return false;
    }
}

bool OpenQuery(WorkArea& work, ResultSet& result) {
    result.Close();
    if (!work.Db) return false;
    bool empty = true;
    if (!work.Db->OpenSet(work.SqlText, false, result, empty, work.Log.file)) return false;
    work.LastOpenEmpty = empty ? "9" : "0";
    return true;
}

bool OpenQueryForUpdate(WorkArea& work, ResultSet& result) {
    result.Close();
    if (!work.Db) return false;
    bool empty = true;
    if (!work.Db->OpenSet(work.SqlText, true, result, empty, work.Log.file)) return false;
    work.LastOpenEmpty = empty ? "9" : "0";
    return true;
}

bool ExecuteSql(WorkArea& work) {
    std::int64_t rows = 0;
    return ExecuteSql(work, rows);
}

bool ExecuteSql(WorkArea& work, std::int64_t& rows_affected) {
    rows_affected = 0;
    if (!work.Db) return false;
    SessionState& state = *work.Db->impl_->state;
    try {
        if (!state.open) {
            state.Record(DbFailure::kLost, work.SqlText, "the database session is closed", work.Log.file);
            return false;
        }
        const bool write = IsWrite(work.SqlText);
        if (write && state.durability_pending && !state.in_transaction) {
            // Reported as a failure of the write it comes before.
            QSqlQuery failed;
            if (!state.SetDurability(&failed)) {
                state.Failed(work.SqlText, ErrorText(failed.lastError()), &failed, work.Log.file);
                return false;
            }
            state.durability_pending = false;
        }
        if (write && state.hold_writes && !state.in_transaction) state.BeginTransaction();
        QSqlQuery statement(state.db);
        if (!statement.exec(ToQString(work.SqlText))) {
            state.Failed(work.SqlText, ErrorText(statement.lastError()), &statement, work.Log.file);
            return false;
        }
        rows_affected = statement.numRowsAffected();
        if (write && state.in_transaction) ++state.held_writes;
        // A statement outside held writes committed on its own, and is on disk before it returns.
        if (!state.in_transaction && FirstWord(work.SqlText) != "SELECT" && !state.FlushLog(work.Log.file)) {
            return false;
        }
        state.Succeeded();
        return true;
    } catch (const std::exception& e) {
        state.Record(DbFailure::kOther, work.SqlText, e.what(), work.Log.file);
        return false;
    }
}

void DbSession::HoldWrites(bool hold) {
    SessionState& state = *impl_->state;
    if (!hold && state.in_transaction) state.EndTransaction(false);
    state.hold_writes = hold;
}

bool CommitWrites(WorkArea& work, CommitFlush flush) {
    if (!work.Db) return false;
    SessionState& state = *work.Db->impl_->state;
    if (!state.in_transaction) return true;
    try {
        Diagnostic diagnostic;
        std::string message;
        // PostgreSQL defers the flush of one transaction's commit by a setting of its own.
        if (flush == CommitFlush::kWithNext && state.postgresql &&
            !state.Run(QStringLiteral("SET LOCAL synchronous_commit = off"), message)) {
            state.Record(DbFailure::kOther, "SET LOCAL synchronous_commit = off", message, work.Log.file);
            return false;
        }
        if (state.EndTransaction(true, &diagnostic, &message)) {
            if (flush == CommitFlush::kNow && !state.FlushLog(work.Log.file)) return false;
            if (flush == CommitFlush::kWithNext && (state.postgresql || !state.wal_file.empty())) {
                state.commit_unflushed = true;
            }
            state.Succeeded();
            return true;
        }
        const bool dead = ConnectionDead(state.Connection());
        state.Record(ClassifyDbFailure(diagnostic.state, diagnostic.native, message, dead, state.sqlite), "COMMIT",
                     message, work.Log.file);
    } catch (const std::exception& e) {
        state.Record(DbFailure::kOther, "COMMIT", e.what(), work.Log.file);
    }
    return false;
}

bool FlushCommits(WorkArea& work) {
    if (!work.Db) return true;
    SessionState& state = *work.Db->impl_->state;
    if (!state.commit_unflushed) return true;
    if (!state.postgresql) return state.FlushLog(work.Log.file);
    // A transaction of its own that commits as the server flushes by default: waiting for it
    // waits for every deferred commit before it.
    static const char* const kSql = "SELECT txid_current()";
    std::string message;
    if (!state.open || !state.Run(QString::fromLatin1(kSql), message)) {
        state.Record(DbFailure::kOther, kSql, state.open ? message : "the database session is closed", work.Log.file);
        return false;
    }
    state.commit_unflushed = false;
    return true;
}

HeldWrites::HeldWrites(WorkArea& work) : work_(work) {
    if (work_.Db) work_.Db->HoldWrites(true);
}

HeldWrites::~HeldWrites() {
    if (work_.Db) work_.Db->HoldWrites(false);
}

bool ConnectDatabase(WorkArea& work) {
    std::string reason;
    return ConnectDatabase(work, reason);
}

bool ConnectDatabase(WorkArea& work, std::string& reason) {
    const std::string source = TrimBlanks(work.DbSource);
    const std::string user = TrimBlanks(work.DbUser);
    const std::string password = TrimBlanks(work.DbPassword);
    work.ConnectString = "DSN=" + ConnectValueText(source) + ";UID=" + ConnectValueText(user) +
                         ";PWD=" + ConnectValueText(password) + ";";
    std::string error;
    std::unique_ptr<DbSession> session = DbSession::Open(work.ConnectString, work.TerminalName, error);
    if (!session) {
        work.Db.reset();
        reason = "cannot connect to the database (data source " + source + ", user " + user + "): " + error;
        ConversionLog log{work.Log.file, {}};
        if (!log.file.empty()) WriteErrorLog(log, 9999, reason, 1);
        return false;
    }
    reason.clear();
    work.Db = std::move(session);
    return true;
}

bool EnsureDatabase(WorkArea& work) {
    if (!work.Db) return false;
    SessionState& state = *work.Db->impl_->state;
    if (state.last_failure != DbFailure::kLost) {
        work.SqlText = "SELECT 1";
        if (ExecuteSql(work)) return true;
        if (state.last_failure != DbFailure::kLost) return false;
    }
    std::string error;
    if (!work.Db->Reopen(error)) {
        state.Record(DbFailure::kLost, "", "the connection cannot be opened again: " + error, work.Log.file);
        return false;
    }
    state.Report(0, "the connection to the database was opened again", work.Log.file);
    return true;
}

std::string SqlQuote(std::string_view value) {
    std::string quoted;
    quoted.reserve(value.size() + 2);
    quoted += '\'';
    for (const char c : value) {
        if (c == '\'') quoted += '\'';
        quoted += c;
    }
    quoted += '\'';
    return quoted;
}

std::string SqlDate(const LocalDateTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "{d '%04d-%02d-%02d'}", t.year, t.month, t.day);
    return text;
}

std::string SqlTime(const LocalDateTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "{t '%02d:%02d:%02d'}", t.hour, t.minute, t.second);
    return text;
}

std::string TrimOrDefault(const DbValue& value, std::string_view fallback) {
    return value ? TrimBlanks(*value) : std::string(fallback);
}

std::string ValueOrDefault(const DbValue& value, std::string_view fallback) {
    return value ? *value : std::string(fallback);
}

std::int32_t ByteLength(const DbValue& value) { return value ? AnsiLenB(*value) : 0; }

bool IsOdbcDriverRegistered(std::string_view name) {
    SQLHENV environment = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment))) return false;
    SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    bool found = false;
    SQLCHAR description[256];
    SQLCHAR attributes[1024];
    SQLSMALLINT description_length = 0;
    SQLSMALLINT attributes_length = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (!found &&
           SQL_SUCCEEDED(SQLDrivers(environment, direction, description, sizeof description, &description_length,
                                    attributes, sizeof attributes, &attributes_length))) {
        found = name == reinterpret_cast<const char*>(description);
        direction = SQL_FETCH_NEXT;
    }
    SQLFreeHandle(SQL_HANDLE_ENV, environment);
    return found;
}

}  // namespace edi
