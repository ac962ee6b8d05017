#include <algorithm>
#include <atomic>
#include <thread>
#include <tuple>

#include "JobFixture.h"
#include "transfer/CenterHistory.h"
#include "transfer/CodeMeaning.h"
#include "transfer/ProcessHistory.h"

namespace edi {
namespace {

const LocalDateTime kStart{2026, 12, 5, 9, 8, 7};
const LocalDateTime kEnd{2026, 12, 6, 23, 59, 58};

template <typename B>
class ProcessHistoryTest : public test::JobFixture<B> {
protected:
    HistoryStart Open(const std::string& center, std::int32_t serial = 0, const char* kind = "03") {
        HistoryStart start = ReceiveHistoryStart(serial, kind, center);
        if (serial == 0) {
            OpenJobHistory(this->work_, start, this->clock_);
        } else {
            OpenStageHistory(this->work_, start, this->clock_);
        }
        return start;
    }
};
TYPED_TEST_SUITE(ProcessHistoryTest, test::DbBackends, test::DbBackendNames);

TYPED_TEST(ProcessHistoryTest, NumbersFollowTheHighestRowsAndRowsKeepTheirValues) {
    const HistoryStart job = this->Open("CENTER01");
    EXPECT_EQ(job.Result + " " + std::to_string(job.通番), "0000 1") << "an empty table gives serial 1";
    const HistoryStart stage = this->Open("CENTER01", 1, "10");
    EXPECT_EQ(stage.Result + " " + std::to_string(stage.枝番), "0000 1");
    EXPECT_EQ(this->HistoryValues(1, 0,
                                  {"送受信種別", "相手先種別", "処理種別", "処理開始日付", "処理開始時刻",
                                   "センターコード", "処理終了日付", "終了コード"}),
              "R 2 03 2026/12/05 10:20:30 CENTER01 <null> <null>");
    EXPECT_EQ(this->HistoryValues(1, 1, {"処理種別", "処理開始時刻"}), "10 10:20:30");

    this->Exec("DELETE FROM FL1102処理履歴ファイル");
    this->Exec(test::HistorySql({{5, 0}, {5, 1}, {7, 0}}));
    EXPECT_EQ(this->Open("C").通番, 8);
    EXPECT_EQ(this->Open("C", 5).枝番, 2);
    EXPECT_EQ(NextBranchNumber(this->work_, 5), std::optional<std::int16_t>(3));
    EXPECT_EQ(NextBranchNumber(this->work_, 6), std::optional<std::int16_t>(1));
    EXPECT_EQ(this->Count("1 = 1"), "5");

    // Empty kinds are stored as a space; a center code goes in as given, whatever it holds.
    HistoryStart blank;
    blank.通番 = 8;
    blank.センターコード = "A'B";
    OpenStageHistory(this->work_, blank, this->clock_);
    ASSERT_EQ(blank.Result, "0000");
    EXPECT_EQ(blank.送受信種別 + blank.相手先種別 + blank.処理種別, "   ");
    EXPECT_EQ(this->HistoryValues(8, 1, {"処理種別", "送受信種別", "センターコード"}), "    A'B");
    EXPECT_EQ(this->Count("1 = 1"), "6");
}

TYPED_TEST(ProcessHistoryTest, CloseWritesValuesAndDefaultsBack) {
    this->Exec(test::HistorySql({{9, 0}, {9, 1}}));
    this->clock_.Set(kEnd);
    HistoryEnd end;
    end.通番 = 9;
    end.枝番 = 1;
    end.取引情報区分 = "KIND";
    end.入力レコード数 = 10;
    end.入力ファイルサイズ = 2048;
    end.出力レコード数 = 9;
    end.ファイル名 = "/in/00000009_RCV_A'B.CII";
    CloseHistory(this->work_, end, this->clock_);
    EXPECT_EQ(end.Result + end.終了コード + end.詳細コード + end.相手先企業コード + end.BPID + end.格納モード +
                  end.取引情報区分,
              "000000000000   KIND");
    EXPECT_EQ(this->HistoryValues(9, 1,
                                  {"処理終了日付", "処理終了時刻", "終了コード", "詳細コード", "相手先企業コード",
                                   "BPID", "格納モード", "取引情報区分", "最終シーケンス番号", "入力レコード数",
                                   "入力ファイルサイズ", "出力レコード数", "出力ファイルサイズ", "ファイル名"}),
              "2026/12/06 23:59:58 0000 0000       KIND 0 10 2048 9 0 /in/00000009_RCV_A'B.CII");
    EXPECT_EQ(this->HistoryValues(9, 0, {"終了コード"}), "<null>");

    HistoryEnd job;
    job.通番 = 9;
    job.終了コード = "5001";
    job.詳細コード = "9999";
    CloseHistory(this->work_, job, this->clock_);
    EXPECT_EQ(job.Result, "0000");
    EXPECT_EQ(this->HistoryValues(9, 0, {"終了コード", "詳細コード"}), "5001 9999");
}

// A zero serial, a missing row, a full branch range and a lost table change nothing and fail.
TYPED_TEST(ProcessHistoryTest, ZeroSerialMissingRowFullBranchRangeAndDatabaseFailureGiveGeneralFailure) {
    this->Exec(test::HistorySql({{2, 0}, {6, 0}, {6, 32767}}));
    HistoryEnd zero;
    CloseHistory(this->work_, zero, this->clock_);
    EXPECT_EQ(zero.Result + "/" + zero.終了コード, "9999/");

    HistoryEnd missing;
    missing.通番 = 2;
    missing.枝番 = 4;
    CloseHistory(this->work_, missing, this->clock_);
    // No defaults for a row that is not there.
    EXPECT_EQ(missing.Result + "/" + missing.終了コード + "/" + missing.詳細コード, "/9999/");

    HistoryStart stage;
    OpenStageHistory(this->work_, stage, this->clock_);
    EXPECT_EQ(stage.Result + "/" + stage.処理種別, "9999/");
    // A branch past the sixteen-bit range fails the stage.
    EXPECT_EQ(NextBranchNumber(this->work_, 6), std::nullopt);
    EXPECT_EQ(this->Open("C", 6).Result, "9999");
    EXPECT_EQ(this->Count("1 = 1"), "3");
    EXPECT_EQ(this->HistoryValues(2, 0, {"処理終了日付"}), "<null>");

    this->Exec("DROP TABLE FL1102処理履歴ファイル");
    EXPECT_EQ(this->Open("C").Result, "9999");
    EXPECT_EQ(this->Open("C", 2).Result, "9999");
    EXPECT_EQ(NextBranchNumber(this->work_, 2), std::nullopt);
    HistoryEnd end;
    end.通番 = 2;
    CloseHistory(this->work_, end, this->clock_);
    EXPECT_EQ(end.Result, "9999");

    WorkArea no_session;
    HistoryStart job = ReceiveHistoryStart(0, "03", "C");
    OpenJobHistory(no_session, job, this->clock_);
    EXPECT_EQ(job.Result, "9999");
}

// Another terminal that wins the race: every time the open reads the clock, just before its
// insert, a second session inserts the row the open is about to write.
class RacingClock final : public Clock {
public:
    RacingClock(WorkArea& other, std::string steal, int races)
        : other_(other), steal_(std::move(steal)), races_(races) {}
    LocalDateTime Now() const override {
        if (races_ > 0) {
            --races_;
            other_.SqlText = steal_;
            EXPECT_TRUE(ExecuteSql(other_)) << other_.Db->LastError();
        }
        return kStart;
    }

private:
    WorkArea& other_;
    std::string steal_;
    mutable int races_;
};

TYPED_TEST(ProcessHistoryTest, TakenNumbersAreSkippedAndRetriesAreBounded) {
    WorkArea other;
    ASSERT_TRUE(this->db_->Connect(other));
    const std::string steal_serial =
        "INSERT INTO FL1102処理履歴ファイル (通番, 枝番, センターコード) "
        "SELECT COALESCE(MAX(通番), 0) + 1, 0, 'OTHER' FROM FL1102処理履歴ファイル";
    RacingClock two_races(other, steal_serial, 2);
    HistoryStart job = ReceiveHistoryStart(0, "03", "MINE");
    OpenJobHistory(this->work_, job, two_races);
    EXPECT_EQ(job.Result + " " + std::to_string(job.通番), "0000 3");
    EXPECT_EQ(this->HistoryValues(3, 0, {"センターコード"}) + " " + this->HistoryValues(2, 0, {"センターコード"}),
              "MINE OTHER");

    RacingClock one_race(other,
                         "INSERT INTO FL1102処理履歴ファイル (通番, 枝番, センターコード) SELECT 3, "
                         "COALESCE(MAX(枝番), 0) + 1, 'OTHER' FROM FL1102処理履歴ファイル WHERE 通番 = 3",
                         1);
    HistoryStart stage = ReceiveHistoryStart(3, "10", "MINE");
    OpenStageHistory(this->work_, stage, one_race);
    EXPECT_EQ(stage.Result + " " + std::to_string(stage.枝番), "0000 2");
    EXPECT_EQ(this->HistoryValues(3, 2, {"センターコード"}), "MINE");

    RacingClock always(other, steal_serial, 1000);
    HistoryStart lost = ReceiveHistoryStart(0, "03", "MINE");
    OpenJobHistory(this->work_, lost, always);
    EXPECT_EQ(lost.Result, "9999");
    // The taken numbers are no failure of their own; giving up is, and says why once.
    const std::string log = ToUnicodeText(this->Content("ERR.LOG"));
    EXPECT_EQ(log.rfind("9999the key is already taken: adding a job row", 0), 0u) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_EQ(this->Count("センターコード = 'MINE'"), "2");
}

class ProcessHistoryPostgresTest : public test::JobFixture<test::PostgresBackend> {};

// Four terminals, each a session of its own, open job rows as fast as they can from one signal.
TEST_F(ProcessHistoryPostgresTest, TerminalsOpeningJobsAtOnceGetDistinctSerials) {
    constexpr int kTerminals = 4;
    constexpr int kJobsEach = 25;
    std::atomic<int> ready{0};
    std::atomic<int> failures{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> terminals;
    for (int i = 0; i < kTerminals; ++i) {
        terminals.emplace_back([&] {
            WorkArea work;
            std::string error;
            work.Db = DbSession::Open(db_->ConnectString(), "terminal", error);
            ++ready;
            while (!go) std::this_thread::yield();
            const SystemClock clock;
            for (int j = 0; j < kJobsEach && work.Db; ++j) {
                HistoryStart job = ReceiveHistoryStart(0, "03", "W");
                OpenJobHistory(work, job, clock);
                if (job.Result != "0000") ++failures;
            }
            if (!work.Db) failures += kJobsEach;
        });
    }
    while (ready < kTerminals) std::this_thread::yield();
    go = true;
    for (std::thread& terminal : terminals) terminal.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(Count("枝番 = 0"), "100");
    EXPECT_EQ(test::RowValues(work_, "SELECT COUNT(DISTINCT 通番) AS n, MAX(通番) AS m FROM FL1102処理履歴ファイル",
                              {"n", "m"}),
              "100 100");
}

template <typename B>
class CenterHistoryTest : public test::JobFixture<B> {};
TYPED_TEST_SUITE(CenterHistoryTest, test::DbBackends, test::DbBackendNames);

TYPED_TEST(CenterHistoryTest, PagesOfTheCentersJobsNewestFirstWithTheirRowsLogAndCarryOn) {
    const auto in = [&](int serial) {
        return this->Folder("in") + "0000000" + std::to_string(serial) + "_RCV_ABC_________.CII";
    };
    // 1 good; 2 another center's; 3 failed registration, carried on by 4; 5 failed conversion; 6 running.
    this->Exec(test::HistorySql({{1, 0, "03", "0000"},
                                 {1, 1, "10", "0000", "0000", in(1)},
                                 {1, 2, "41", "00", "0000", "F:/HIST/x.TXT"},
                                 {.serial = 2, .end = "0000", .center = "XYZ"},
                                 {3, 0, "03", "0000"},
                                 {3, 1, "10", "0000", "0000", in(3)},
                                 {3, 2, "31", "0000", "0000", in(3)},
                                 {3, 3, "41", "4100", "0002"},
                                 {4, 0, "03", "0000", "8102", "", 3},
                                 {4, 1, "10", "0000", "8102", in(4), 3},
                                 {4, 2, "31", "0000", "0000", in(4)},
                                 {4, 3, "41", "00", "0000", "F:/HIST/y.TXT"},
                                 {5, 0, "03", "9999"},
                                 {5, 1, "10", "0000", "0000", in(5)},
                                 {5, 2, "31", "0000", "0000", in(5)},
                                 {.serial = 6}}));
    test::WriteFile(in(4), std::string_view("message"));
    test::WriteFile(in(5), std::string_view("message"));
    test::WriteSjisFile(this->work_.Log.file,
                        "0000--K800400 start--00000005  2026/12/05 10:20:31\n"
                        "0003\n"
                        "0000--K800400 start--00000002  2026/12/05 10:20:40\n"
                        "0010項目№=7\n"
                        "0000--K800300 start--00000003\n"
                        "0040ＡＢＣ\n");

    const HistoryPage page = ReadCenterHistory(this->work_, "ABC", 0);
    ASSERT_FALSE(page.failed);
    EXPECT_FALSE(page.older);
    // Each job's serial, what bars its carry-on and the job that took it over.
    using enum CarryOnBar;
    using Job = std::tuple<std::int32_t, CarryOnBar, std::int32_t>;
    std::vector<Job> jobs;
    for (const CenterJob& job : page.jobs) jobs.emplace_back(job.serial, job.carry_on.bar, job.carry_on.taken_by);
    ASSERT_EQ(jobs,
              (std::vector<Job>{
                  {6, kUnfinished, 0}, {5, kNone, 0}, {4, kEndedWell, 0}, {3, kTakenOver, 4}, {1, kEndedWell, 0}}));

    const CenterJob& carried = page.jobs[2];
    ASSERT_EQ(carried.rows.size(), 4u);
    EXPECT_EQ(carried.takes_over, 3);
    EXPECT_EQ(carried.rows[1].処理種別 + carried.rows[1].詳細コード + carried.rows[1].ファイル名, "108102" + in(4));
    EXPECT_EQ(carried.rows[0].開始 + " - " + carried.rows[0].終了, "2026/12/05 10:20:30 - 2026/12/05 10:21:00");
    EXPECT_EQ(carried.rows[3].入力レコード数, 10);
    EXPECT_EQ(page.jobs[0].rows[0].終了, "") << "a running job has no end";

    EXPECT_EQ(page.jobs[1].log,
              (std::vector<std::string>{"0000--K800400 start--00000005  2026/12/05 10:20:31", "0003"}));
    EXPECT_EQ(page.jobs[3].log, (std::vector<std::string>{"0000--K800300 start--00000003", "0040ＡＢＣ"}));
    EXPECT_TRUE(page.jobs[4].log.empty());

    const HistoryPage first = ReadCenterHistory(this->work_, "ABC", 0, 2);
    ASSERT_EQ(first.jobs.size(), 2u);
    EXPECT_TRUE(first.older);
    const HistoryPage next = ReadCenterHistory(this->work_, "ABC", first.jobs.back().serial, 2);
    ASSERT_EQ(next.jobs.size(), 2u);
    EXPECT_EQ(next.jobs[0].serial, 4);
    EXPECT_TRUE(next.older);
    EXPECT_EQ(next.jobs[1].carry_on.taken_by, 4) << "the taker is found on a newer page too";
    EXPECT_TRUE(ReadCenterHistory(this->work_, "NONE", 0).jobs.empty());
}

TEST(CodeMeaningTest, EveryCodeHasItsMeaningAndTheMostSpecificOneWins) {
    const std::tuple<CodeSource, std::string, std::string, const char*> cases[] = {
        {CodeSource::kRegistration, "4100", "0002", "登録プログラムがステータスファイルを残さなかった"},
        {CodeSource::kRegistration, "  ", "0000", "正常終了（登録済み）"},
        {CodeSource::kRegistration, "01", "", "ステータスファイルが読めないか終了コードが0でない"},
        {CodeSource::kJob, "9999", "8100", "異常終了（中断した処理を後の実行が継続）。失敗した段階の行を参照"},
        {CodeSource::kReceive, "5100", "9999", "メールの受信に失敗した"},
    };
    for (const auto& [source, code, detail, japanese] : cases) {
        EXPECT_EQ(MeaningOf(source, code, detail).japanese, japanese) << code << "/" << detail;
    }
    EXPECT_EQ(MeaningOfLogCode("32003").source, CodeSource::kMail);
    EXPECT_EQ(ParseLogLine("32023mail: timed out").code, "32023");
    EXPECT_EQ(ParseLogLine("00017 bytes").code, "0001");
    // Every source has a fallback, and no entry is without its texts.
    for (const CodeMeaning& m : CodeMeanings()) {
        EXPECT_FALSE(m.japanese.empty() || m.english.empty()) << m.code;
        EXPECT_EQ(MeaningOf(m.source, "7777", "7777").source, m.source) << m.code;
    }
}

}  // namespace
}  // namespace edi
