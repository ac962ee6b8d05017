// The headless runner as cron, systemd and an operator meet it: killed at random moments,
// started twice at once, stopped with SIGTERM, its output cut short, asked for help. A terminal
// of link-package centers on the demo masters, the real converters and a registration program
// that notes the order number of every message it is given.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <tuple>

#include "DemoOrderMessages.h"
#include "JobFixture.h"
#include "startup/SqlScript.h"
#include "startup/SystemProfile.h"

extern char** environ;

namespace edi {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kPlaceholder = "PO99999999999";

struct Exit {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// A process of k500100-batch; its standard output and error go to files, or stdout to a pipe.
class Batch {
public:
    Batch(const fs::path& dir, std::vector<std::string> arguments, bool stdout_pipe = false)
        : out_(dir / ("out" + std::to_string(++count_))), err_(dir / ("err" + std::to_string(count_))) {
        int fds[2] = {-1, -1};
        if (stdout_pipe && ::pipe(fds) != 0) return;
        arguments.insert(arguments.begin(), K500100_BATCH);
        std::vector<char*> argv;
        for (std::string& w : arguments) argv.push_back(w.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(stdout_pipe ? fds[1] : ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
            ::dup2(::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
            ::close(fds[0]);  // only the test reads the pipe: closing it must reach the runner
            ::execve(argv[0], argv.data(), environ);
            ::_exit(127);
        }
        ::close(fds[1]);
        pipe_ = fds[0];
    }
    ~Batch() {
        if (pipe_ >= 0) ::close(pipe_);
    }
    pid_t pid() const { return pid_; }
    // Reads one line of standard output, then closes the pipe, as `| head -1` does.
    std::string FirstLineThenClose() {
        std::string line;
        char c = 0;
        while (::read(pipe_, &c, 1) == 1 && c != '\n') line += c;
        ::close(pipe_);
        pipe_ = -1;
        return line;
    }
    Exit Wait() {
        Exit result;
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (fs::exists(out_)) result.out = test::ReadText(out_);
        result.err = test::ReadText(err_);
        return result;
    }

private:
    static inline int count_ = 0;
    pid_t pid_ = -1;
    int pipe_ = -1;
    fs::path out_;
    fs::path err_;
};

class RunProcessTest : public test::JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        if (HasFatalFailure()) return;
        std::string error;
        ASSERT_TRUE(RunSqlScript(work_, test::ReadText(K500100_DEMO_MASTERS), error)) << error;
        // Registers a message by noting the order number of its local file, then reports success.
        test::WriteFile(dir_ / "reg.sh",
                        "#!/bin/sh\n"
                        "[ -e \"$SLOW\" ] && sleep 0.2\n"
                        "value() { tr -d '\\r' < \"${1#@}\" | sed -n \"s/^\\/\\[EDI\\]$2='\\(.*\\)'$/\\1/p\"; }\n"
                        "head -n 1 \"$EDI_IN$(value \"$1\" 0130TXT | sed 's/^%EDI_IN%//')\" | cut -c64-76 >> \"$LOG\"\n"
                        "while [ -e \"$LOG.hold\" ]; do sleep 0.02; done\n"
                        "printf '1%-4s%-12s%06d%06d00\\r\\n' 0130 PARTNER01 1 1 > \"$(value \"$1\" STATUS_FILE)\"\n");
        const std::string registration = "env EDI_IN=" + Folder("in") + " LOG=" + (dir_ / "registered.txt").string() +
                                         " SLOW=" + (dir_ / "slow").string() + " sh " + (dir_ / "reg.sh").string();
        test::WriteEdiIni(dir_ / "EDI.ini",
                          {{"動作環境", {"DBSTRING=" + db_->dsn(), "USERID=" + db_->user(), "PASSWD="}},
                           {"Setting0",
                            {"LabelBackColor=0", "LabelForeColor=0", "TextBackColor=0", "TextFocusColor=0",
                             "TextForeColor=0", "TitleBackColor=0", "TitleForeColor=0"}},
                           {"K700100", {"MINIMAIZE=0", "DEMOMODE=0"}},
                           {"PATH",
                            {"EDIINFIL=" + Folder("in"), "EDIOUTFIL=" + Folder("out"), "MGSTPATH=" + Folder("st"),
                             "OLD_FILE=" + Folder("old"), "PRPATH=" + Folder("pr"), "STPATH=" + Folder("st"),
                             "FL1102_FILE=" + Folder("in"), "MGCMDLINEZR=" + registration}},
                           {"JKBN_Z_J", {"0130"}},
                           {"デバッグ", {"MODE=0"}}});
        setenv("K500100_INI", (dir_ / "EDI.ini").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("K500100_INI");
        JobTest::TearDown();
    }

    // Centers C01... of this terminal, and one partner message made of `records` order records.
    void MakeTerminal(int centers, int records) {
        const std::string terminal = cProfile().machine();
        for (int i = 1; i <= centers; ++i) {
            char code[16];
            std::snprintf(code, sizeof code, "C%02d", i);
            codes_.push_back(code);
            Exec(test::CenterSql({.code = code, .link_path = Link(code), .terminal = terminal}));
            Partner(code, "PARTNER01");
        }
        template_ = test::DemoOrdersCii(work_, dir_.path(), std::vector<std::string>(records, kPlaceholder));
        ASSERT_NE(template_.find(kPlaceholder), std::string::npos);
    }

    // Three centers with small messages and a registration that takes a moment each.
    void SlowTerminal() {
        MakeTerminal(3, 3);
        Refill();
        test::WriteFile(dir_ / "slow", std::string_view(""));
    }

    std::string Link(const std::string& code) const { return Folder("link") + code + ".CII"; }

    // A new message at every link path that has none; every message carries its own order number.
    void Refill() {
        for (const std::string& code : codes_) {
            if (fs::exists(Link(code))) continue;
            char id[16];
            std::snprintf(id, sizeof id, "PO%011d", ++messages_);
            std::string bytes = template_;
            for (std::size_t at = 0; (at = bytes.find(kPlaceholder, at)) != std::string::npos;)
                bytes.replace(at, 13, id);
            test::WriteFile(Link(code) + ".new", std::string_view(bytes));
            fs::rename(Link(code) + ".new", Link(code));  // the link package's files appear whole
            sent_.push_back(id);
        }
    }

    // The order numbers the registration program was given, sorted.
    std::vector<std::string> Registered() const {
        std::vector<std::string> ids;
        std::ifstream in(dir_ / "registered.txt");
        for (std::string line; std::getline(in, line);) ids.push_back(line);
        std::sort(ids.begin(), ids.end());
        return ids;
    }
    // Files left where nothing should stay: link files, hidden or temporary files of the jobs.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_ / "link")) names.push_back(e.path().filename().string());
        for (const char* folder : {"in", "old"}) {
            for (const auto& e : fs::directory_iterator(dir_ / folder)) {
                const std::string name = e.path().filename().string();
                if ((name.starts_with(".") && !name.starts_with(".k500100-")) || name.ends_with(".tmp")) {
                    names.push_back(name);
                }
            }
        }
        return names;
    }
    // Runs until no other run holds the lock (a registration program left by a killed run may).
    Exit RunToEnd() {
        for (int attempt = 0; attempt < 300; ++attempt) {
            Exit exit = Batch(dir_.path(), {"OP01"}).Wait();
            if (exit.status != 3) return exit;
            std::this_thread::sleep_for(50ms);
        }
        return {};
    }

    std::vector<std::string> codes_;
    std::string template_;
    std::vector<std::string> sent_;  // sorted, as the numbers rise
    int messages_ = 0;
};

TEST_F(RunProcessTest, KilledAtRandomMomentsEveryMessageIsRegisteredExactlyOnce) {
    MakeTerminal(12, 8000);  // 2 MB per message
    const unsigned seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    RecordProperty("seed", std::to_string(seed));
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> moment_ms(0, 1500);
    const auto start = std::chrono::steady_clock::now();
    int rounds = 0;
    int killed = 0;
    // New messages arrive during the first rounds; the later ones carry on and take what is left.
    while (rounds < 30 && std::chrono::steady_clock::now() - start < 28s) {
        if (std::chrono::steady_clock::now() - start < 12s) Refill();
        Batch batch(dir_.path(), {"OP01"});
        std::this_thread::sleep_for(std::chrono::milliseconds(moment_ms(random)));
        killed += ::kill(batch.pid(), SIGKILL) == 0;
        const Exit exit = batch.Wait();
        ASSERT_TRUE(exit.status == 128 + SIGKILL || exit.status <= 3) << exit.status << exit.err;
        ++rounds;
    }
    const Exit last = RunToEnd();
    EXPECT_TRUE(last.status == 0 || last.status == 1) << last.status << "\n" << last.err;
    std::printf("%d rounds, %d runners killed, %d messages, %s jobs carried on, %s stages cut short\n", rounds, killed,
                messages_, Count("枝番 = 0 AND 詳細コード = '8100'").c_str(), Count("終了コード = '8101'").c_str());

    EXPECT_EQ(Registered(), sent_) << "every message registered exactly once";
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    std::size_t received = 0;
    for (const auto& e : fs::directory_iterator(dir_ / "in")) received += e.path().extension() == ".CII";
    EXPECT_EQ(received, sent_.size()) << "every received file is a registered message";
    EXPECT_EQ(Count("処理終了日付 IS NULL"), "0") << "every history row closed";
    EXPECT_EQ(Count("処理種別 = '41' AND 終了コード <> '00'"), "0");
}

TEST_F(RunProcessTest, TwoRunnersStartedTogetherRegisterEachMessageOnce) {
    SlowTerminal();
    Batch first(dir_.path(), {"OP01"});
    Batch second(dir_.path(), {"OP01"});
    const Exit a = first.Wait();
    const Exit b = second.Wait();
    EXPECT_EQ(std::minmax({a.status, b.status}), std::pair(0, 3)) << a.err << b.err;
    const std::string& locked = a.status == 3 ? a.err : b.err;
    EXPECT_NE(locked.find("another run of this terminal holds"), std::string::npos) << locked;
    EXPECT_EQ(Registered(), sent_);
    EXPECT_EQ(Count("枝番 = 0"), "3");
}

TEST_F(RunProcessTest, SigtermFinishesTheJobInHandAndEndsWithItsOwnStatus) {
    SlowTerminal();
    // The first registration holds until the signal has been sent: the job is in its last stage.
    const fs::path hold = dir_ / "registered.txt.hold";
    test::WriteFile(hold, std::string_view(""));
    Batch batch(dir_.path(), {"OP01"});
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (Registered().empty() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    ::kill(batch.pid(), SIGTERM);
    fs::remove(hold);
    const Exit stopped = batch.Wait();
    EXPECT_EQ(stopped.status, 4) << stopped.err;
    EXPECT_NE(stopped.err.find("stopped by signal 15"), std::string::npos) << stopped.err;
    EXPECT_EQ(Count("処理終了日付 IS NULL"), "0");
    EXPECT_EQ(Count("処理種別 = '41' AND 終了コード = '00'"), "1") << "the job in hand registered";
    EXPECT_TRUE(fs::exists(Link("C02")));
    Refill();
    EXPECT_EQ(RunToEnd().status, 0);
    EXPECT_EQ(Registered(), sent_);
}

TEST_F(RunProcessTest, AClosedStandardOutputEndsNoJob) {
    SlowTerminal();
    Batch batch(dir_.path(), {"OP01"}, true);
    EXPECT_EQ(batch.FirstLineThenClose().rfind("terminal ", 0), 0u);
    const Exit exit = batch.Wait();
    EXPECT_EQ(exit.status, 0) << exit.err;
    EXPECT_EQ(Registered(), sent_);
    EXPECT_EQ(Count("処理終了日付 IS NULL"), "0");
}

TEST_F(RunProcessTest, HelpVersionAndOptionsRunNothing) {
    MakeTerminal(1, 3);
    Refill();
    // The arguments, the exit status and how standard output and standard error begin.
    const std::tuple<std::vector<std::string>, int, const char*, const char*> cases[] = {
        {{"--help"}, 0, "Usage: k500100-batch [OPERATOR-CODE]", ""},
        {{"--version"}, 0, "k500100-batch 0.1.0", ""},
        {{"-x"}, 2, "", "k500100-batch: unknown option -x"},
        {{"--carry-on", "7x"}, 2, "", "k500100-batch: --carry-on needs a job serial, not \"7x\""},
        {{"--carry-on=0", "OP01"}, 2, "", "k500100-batch: --carry-on needs a job serial, not \"0\""},
    };
    for (const auto& [arguments, status, out_start, err_start] : cases) {
        SCOPED_TRACE(arguments.back());
        const Exit exit = Batch(dir_.path(), arguments).Wait();
        EXPECT_EQ(exit.status, status);
        EXPECT_EQ(exit.out.rfind(out_start, 0), 0u) << exit.out;
        EXPECT_EQ(exit.err.rfind(err_start, 0), 0u) << exit.err;
    }
    EXPECT_EQ(Count("1 = 1"), "0");
    EXPECT_TRUE(fs::exists(Link("C01")));

    setenv("K500100_INI", (dir_ / "nowhere.ini").c_str(), 1);
    const Exit no_ini = Batch(dir_.path(), {"OP01"}).Wait();
    EXPECT_EQ(no_ini.status, 2);
    EXPECT_EQ(no_ini.err, "k500100-batch: 接続エラー (EDI.ini: " + (dir_ / "nowhere.ini").string() +
                              ", data source: )\nk500100-batch: cannot connect to the database (data source , user ): "
                              "no data source name in the connect string\n");
}

}  // namespace
}  // namespace edi
