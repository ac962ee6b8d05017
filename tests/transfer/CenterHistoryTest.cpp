#include <gtest/gtest.h>

#include "support/DbTestSupport.h"
#include "support/Masters.h"
#include "transfer/CenterHistory.h"
#include "transfer/CodeMeaning.h"

namespace edi {
namespace {

template <typename B>
class CenterHistoryTest : public test::DbFixture<B> {};
TYPED_TEST_SUITE(CenterHistoryTest, test::DbBackends, test::DbBackendNames);

TYPED_TEST(CenterHistoryTest, PagesOfTheCentersJobsNewestFirstWithTheirRowsLogAndCarryOn) {
    test::TempDir dir;
    std::filesystem::create_directories(dir / "in");
    this->work_.EDIINFIL = (dir / "in").string() + "/";
    this->work_.Log.file = dir / "ERR.LOG";
    const auto in = [&](int serial) {
        return (dir / "in" / ("0000000" + std::to_string(serial) + "_RCV_ABC_________.CII")).string();
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
    std::vector<std::int32_t> serials;
    for (const CenterJob& job : page.jobs) serials.push_back(job.serial);
    ASSERT_EQ(serials, (std::vector<std::int32_t>{6, 5, 4, 3, 1}));

    const CenterJob& carried = page.jobs[2];
    ASSERT_EQ(carried.rows.size(), 4u);
    EXPECT_EQ(carried.takes_over, 3);
    EXPECT_EQ(carried.rows[1].処理種別 + carried.rows[1].詳細コード + carried.rows[1].ファイル名, "108102" + in(4));
    EXPECT_EQ(carried.rows[0].開始, "2026/12/05 10:20:30");
    EXPECT_EQ(carried.rows[0].終了, "2026/12/05 10:21:00");
    EXPECT_EQ(carried.rows[3].入力レコード数, 10);
    EXPECT_EQ(page.jobs[0].rows[0].終了, "") << "a running job has no end";

    const struct {
        std::size_t job;
        CarryOnBar bar;
        std::int32_t taken_by;
    } checks[] = {{0, CarryOnBar::kUnfinished, 0},
                  {1, CarryOnBar::kNone, 0},
                  {2, CarryOnBar::kEndedWell, 0},
                  {3, CarryOnBar::kTakenOver, 4},
                  {4, CarryOnBar::kEndedWell, 0}};
    for (const auto& c : checks) {
        SCOPED_TRACE(page.jobs[c.job].serial);
        EXPECT_EQ(page.jobs[c.job].carry_on.bar, c.bar);
        EXPECT_EQ(page.jobs[c.job].carry_on.taken_by, c.taken_by);
    }
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
    const struct {
        CodeSource source;
        const char* code;
        const char* detail;
        const char* japanese;
    } cases[] = {
        {CodeSource::kRegistration, "4100", "0002", "登録プログラムがステータスファイルを残さなかった"},
        {CodeSource::kRegistration, "4100", "0003",
         "登録プログラムの実行中に処理が終わり、ステータスファイルがない（一部登録の可能性）"},
        {CodeSource::kRegistration, "  ", "0000", "正常終了（登録済み）"},
        {CodeSource::kRegistration, "01", "", "ステータスファイルが読めないか終了コードが0でない"},
        {CodeSource::kJob, "9999", "8100", "異常終了（中断した処理を後の実行が継続）。失敗した段階の行を参照"},
        {CodeSource::kJob, "0000", "8102", "正常終了（前の処理の受信ファイルで変換・登録をやり直し）"},
        {CodeSource::kReceive, "5100", "5102", "添付ファイルを復号できない相手先メール（未読のまま、理由は ERR.LOG）"},
        {CodeSource::kReceive, "5100", "9999", "メールの受信に失敗した"},
        {CodeSource::kConversion, "8101", "0000", "実行の中断で打ち切り。後の行でやり直した"},
        {CodeSource::kConverter, "0003", "", "レコードフォーマット情報マスタにメッセージ側の項目がない"},
        {CodeSource::kMail, "32023", "", "メールサーバに接続できない・切断された・応答がない"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.code) + "/" + c.detail);
        EXPECT_EQ(MeaningOf(c.source, c.code, c.detail).japanese, c.japanese);
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
