#include "JobFixture.h"

#include "startup/DbSession.h"

namespace edi::test {

void FakeConverters::XmlCiiConvert(WorkArea&, const std::string& xml_path, const std::string& cii_path, std::int32_t,
                                   ConversionValues& values) {
    xml_calls.push_back(std::filesystem::path(xml_path).filename().string() + " -> " +
                        std::filesystem::path(cii_path).filename().string());
    std::ofstream(cii_path, std::ios::binary | std::ios::app)
        << "from " << std::filesystem::path(xml_path).filename().string() << "\n";
    values.格納モード = "M";
}

void FakeConverters::RunLocalCiiConversion(WorkArea&, const std::string&, std::int32_t, const std::string& kind,
                                           const std::string& cii_path, const std::string& local_path,
                                           std::string& result, ConversionValues& values) {
    if (on_local) on_local();
    local_calls.push_back(kind + " " + std::filesystem::path(cii_path).filename().string() + " -> " +
                          std::filesystem::path(local_path).filename().string());
    values.BPID = "BP000001";
    values.取引情報区分 = "0101";
    std::ifstream in(cii_path, std::ios::binary);
    if (!in) {
        result = "0003";
        return;
    }
    std::string local = local_path;
    local.insert(local.rfind('.'), "01");
    std::ofstream(local, std::ios::binary) << in.rdbuf();
    result = "0000";
}

template <typename B>
void JobFixture<B>::SetUp() {
    DbFixture<B>::SetUp();
    for (const char* name : {"in", "old", "link", "pr", "st", "xml", "out"}) {
        std::filesystem::create_directories(dir_ / name);
    }
    WriteIni();
    work_.IniOverride = dir_ / "EDI.ini";
    work_.IniFolder = dir_.path().string();
    work_.EDIINFIL = Folder("in");
    work_.EDIOUTFIL = Folder("out");
    work_.OLD_FILE = Folder("old");
    work_.MGSTPATH = "M:/ST";
    work_.OperatorCode = "0001";
    work_.Log.file = dir_ / "ERR.LOG";
    runner_ = std::make_unique<JobRunner>(work_, clock_, boxes_, progress_, display_, converters_, starter_);
    StatusAnswer("1KIND12345678901200001000000900");
}

template <typename B>
void JobFixture<B>::TearDown() {
    runner_.reset();
    DbFixture<B>::TearDown();
}

template <typename B>
void JobFixture<B>::WriteIni(const std::vector<std::string>& jkbn, const IniSections& more) {
    IniSections sections = {
        {"PATH",
         {"PRPATH=" + Folder("pr"), "MGCMDLINEZR=register --now", "STPATH=" + Folder("st"), "FL1102_FILE=F:/HIST"}},
        {"JKBN_Z_J", jkbn},
        {"MAPI", {"ProfileName=edi"}}};
    sections.insert(sections.end(), more.begin(), more.end());
    WriteEdiIni(dir_ / "EDI.ini", sections);
}

template <typename B>
void JobFixture<B>::StatusAnswer(const std::string& first_line) {
    starter_.action = [this, first_line](const std::string& command) {
        const std::size_t at = command.find(" @");
        std::ifstream parameters(command.substr(at + 2), std::ios::binary);
        if (!parameters) return true;
        // The status file goes where STPATH says; the parameter file names it for the program's side.
        std::string serial = command.substr(command.size() - 12, 8);
        WriteSjisFile(dir_ / "st" / (serial + "_Z_IN_STATUS.TXT"), first_line + "\r\n");
        return true;
    };
}

template <typename B>
void JobFixture<B>::LinkCenter(const std::string& code, const std::string& form, bool waiting) {
    Center(code, "Z", Folder("link") + code + ".dat", form);
    Partner(code, "123456789012");
    if (waiting) WriteFile(Folder("link") + code + ".dat", std::string_view("message of " + code));
    AddRow(code);
}

template <typename B>
std::vector<std::string> JobFixture<B>::History(int serial, bool with_file) {
    work_.SqlText = "SELECT * FROM FL1102処理履歴ファイル WHERE 通番 = " + std::to_string(serial) + " ORDER BY 枝番";
    ResultSet set;
    std::vector<std::string> rows;
    if (!OpenQuery(work_, set)) return {"<query failed>"};
    for (; !set.EndOfSet(); set.MoveNext()) {
        rows.push_back(set.Value("枝番").value_or("-") + " " + set.Value("処理種別").value_or("-") + " " +
                       set.Value("終了コード").value_or("-") + " " + set.Value("詳細コード").value_or("-"));
        if (with_file) rows.back() += " " + set.Value("ファイル名").value_or("-");
    }
    return rows;
}

template <typename B>
int JobFixture<B>::OpenJob(const std::string& center) {
    HistoryStart job = ReceiveHistoryStart(0, "03", center);
    OpenJobHistory(work_, job, clock_);
    EXPECT_EQ(job.Result, "0000");
    return job.通番;
}

template <typename B>
std::string JobFixture<B>::HistoryValues(int serial, int branch, const std::vector<std::string>& columns) {
    return RowValues(work_,
                     "SELECT * FROM FL1102処理履歴ファイル WHERE 通番 = " + std::to_string(serial) +
                         " AND 枝番 = " + std::to_string(branch),
                     columns);
}

template <typename B>
std::string JobFixture<B>::Content(const std::string& relative) const {
    return std::filesystem::exists(dir_ / relative) ? ReadText(dir_ / relative) : "<none>";
}

template <typename B>
void JobFixture<B>::Reset() {
    for (const char* table : {"FL1102処理履歴ファイル", "FL1903EDI制御マスタ", "FL1915センタ利用企業マスタ"}) {
        Exec(std::string("DELETE FROM ") + table);
    }
    for (const char* name : {"in", "old", "link", "pr", "st", "xml"}) {
        std::filesystem::remove_all(dir_ / name);
        std::filesystem::create_directories(dir_ / name);
    }
    work_.Centers.clear();
    starter_.commands.clear();
    display_.events.clear();
    converters_.xml_calls.clear();
    converters_.local_calls.clear();
    runner_ = std::make_unique<JobRunner>(work_, clock_, boxes_, progress_, display_, converters_, starter_);
}

template class JobFixture<SqliteBackend>;
template class JobFixture<PostgresBackend>;

}  // namespace edi::test
