// Cost of a mail receive run: a mailbox of many read mails with one new partner mail (time
// and peak memory of the run), and one partner mail with a large attachment (peak memory),
// on the embedded Maildir store and on the tests' Dovecot over imaps (its benchmark user keeps
// mails in mdbox, so that the server's own work stays small).
//   mail_bench [--mails N] [--mb M] [--dir DIR] [--keep]
// Targets: the N-mail run under 1 s and 64 MB, the M MB attachment under 64 MB. Each run is a
// child process, so its peak resident memory is its own. Exit status 0 when every target is met.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "transfer/MailTransfer.h"

namespace fs = std::filesystem;
using namespace edi;

namespace {

const char* const kPartner = "orders@partner.example";

class NoProgress final : public ProgressView {
public:
    void Clear() override {}
    void Show() override {}
    void AddLine(const std::string&) override {}
    void Close() override {}
};

class PrintedMessages final : public MessageBoxes {
public:
    MessageAnswer Show(const MessageRequest& request) override {
        std::cerr << request.text << "\n";
        return MessageAnswer::kOk;
    }
};

// Base64 of bytes in lines of 76 characters.
std::string Base64Lines(const std::string& bytes) {
    static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (n > 1) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (n > 2) v |= static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
        out += n > 2 ? kAlphabet[v & 63] : '=';
        if ((i / 3 + 1) % 19 == 0) out += "\r\n";
    }
    return out + "\r\n";
}

std::string Head(const std::string& from, const std::string& subject) {
    return "From: " + from + "\r\nTo: edi@site.example\r\nSubject: " + subject +
           "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
           "Content-Type: text/plain\r\n\r\nthe order file\r\n--b\r\nContent-Type: application/octet-stream; "
           "name=\"o.CII\"\r\nContent-Disposition: attachment; filename=\"o.CII\"\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n";
}

std::string Mail(const std::string& from, const std::string& subject, const std::string& attachment) {
    return Head(from, subject) + Base64Lines(attachment) + "--b--\r\n";
}

// The large attachment's bytes, made again on demand from a seed rather than kept.
class BigAttachment {
public:
    explicit BigAttachment(int mb) : size_(static_cast<std::size_t>(mb) << 20) {}
    std::size_t size() const { return size_; }
    void ForEachChunk(const std::function<bool(const std::string&)>& use) const {
        std::mt19937 random(20);
        std::string chunk;
        for (std::size_t done = 0; done < size_; done += chunk.size()) {
            chunk.resize(std::min<std::size_t>(57 * 1024, size_ - done));  // whole base64 lines
            for (char& c : chunk) c = static_cast<char>(random());
            if (!use(chunk)) return;
        }
    }

private:
    std::size_t size_;
};

void WriteBigMail(const fs::path& path, const BigAttachment& big) {
    std::ofstream out(path, std::ios::binary);
    out << Head(kPartner, "big");
    big.ForEachChunk([&](const std::string& chunk) { return static_cast<bool>(out << Base64Lines(chunk)); });
    out << "--b--\r\n";
}

bool SameAsBig(const fs::path& path, const BigAttachment& big) {
    std::ifstream in(path, std::ios::binary);
    std::string got;
    bool same = true;
    big.ForEachChunk([&](const std::string& chunk) {
        got.resize(chunk.size());
        same = in.read(got.data(), static_cast<std::streamsize>(got.size())) && got == chunk;
        return same;
    });
    return same && in.peek() == std::char_traits<char>::eof();
}

bool WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return static_cast<bool>(out.flush());
}

// A Maildir inbox of `count` read mails from other senders.
void FillReadMails(const fs::path& maildir, int count) {
    for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(maildir / sub);
    for (int i = 0; i < count; ++i) {
        const std::string name = std::to_string(1700000000 + i) + ".M" + std::to_string(i) + ".bench:2,S";
        WriteFile(maildir / "cur" / name, Mail("sender" + std::to_string(i % 97) + "@example.com",
                                               "read mail " + std::to_string(i), "order file " + std::to_string(i)));
    }
}

int counter = 0;
void DeliverNew(const fs::path& maildir, const std::function<void(const fs::path&)>& write) {
    const std::string name = std::to_string(1800000000 + counter) + ".N" + std::to_string(counter) + ".bench";
    ++counter;
    write(maildir / "tmp" / name);
    fs::rename(maildir / "tmp" / name, maildir / "new" / name);
}

struct Setup {
    fs::path dir;
    WorkArea work;
    std::string mapi;  // [MAPI] lines of the store
};

// One receive run; `check` looks at the received file (or that there is none).
bench::Phase Receive(Setup& setup, const std::function<bool(const fs::path&)>& check) {
    const fs::path received = fs::path(setup.work.EDIINFIL) / "00000001_RCV_BENCH_______.CII";
    fs::remove(received);
    std::ofstream(setup.dir / "EDI.ini", std::ios::binary) << "[MAPI]\r\n" << setup.mapi;
    bench::Phase phase = bench::RunChild([&] {
        NoProgress progress;
        PrintedMessages messages;
        const bench::StillClock clock;
        MailRequest request{"BENCH", 1, "R", "C", kPartner, ""};
        return RunMailTransfer(request, setup.work, progress, messages, clock) == 0 && request.Result == "0000";
    });
    phase.ok = phase.ok && check(received);
    return phase;
}

std::map<std::string, std::string> ReadEnv(const fs::path& file) {
    std::map<std::string, std::string> values;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

struct Result {
    std::string name;
    bench::Phase phase;
    double max_seconds;  // 0: no time target
    double max_mb;
};

}  // namespace

int main(int argc, char** argv) {
    int mails = 20000;
    int mb = 30;
    fs::path dir;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--mails" && i + 1 < argc) {
            mails = std::atoi(argv[++i]);
        } else if (arg == "--mb" && i + 1 < argc) {
            mb = std::atoi(argv[++i]);
        } else if (arg == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else if (arg == "--keep") {
            keep = true;
        } else {
            std::cout << "usage: mail_bench [--mails N] [--mb M] [--dir DIR] [--keep]\n";
            return arg == "--help" ? 0 : 2;
        }
    }
    if (dir.empty()) {
        char pattern[] = "/tmp/k500100-mail-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) return 2;
        dir = pattern;
        fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);  // the mail server reads here
    }
    fs::create_directories(dir / "in");
    Setup setup;
    setup.dir = dir;
    setup.work.IniFolder = dir.string();
    setup.work.IniOverride = dir / "EDI.ini";
    setup.work.EDIINFIL = (dir / "in").string() + "/";
    setup.work.Log.file = dir / "ERR.LOG";

    const BigAttachment big(mb);
    const std::string small = "UNB order 4711";
    const auto none = [](const fs::path& received) { return !fs::exists(received); };
    const auto small_stored = [&](const fs::path& received) {
        std::ifstream in(received, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {}) == small;
    };
    const auto big_stored = [&](const fs::path& received) { return SameAsBig(received, big); };
    const auto new_small = [&](const fs::path& path) { WriteFile(path, Mail(kPartner, "new", small)); };
    const auto new_big = [&](const fs::path& path) { WriteBigMail(path, big); };
    std::vector<Result> results;
    const std::string n = std::to_string(mails);
    const std::string m = std::to_string(mb) + " MB attachment";

    std::cout << "mail_bench: " << mails << " read mails, " << mb << " MB attachment, in " << dir << "\n";
    const fs::path maildir = dir / "Maildir";
    FillReadMails(maildir, mails);
    setup.mapi = "Store=maildir://" + maildir.string() + "\r\n";
    results.push_back({"maildir: " + n + " read, nothing new", Receive(setup, none), 1, 64});
    for (int round = 0; round < 3; ++round) {
        DeliverNew(maildir, new_small);
        results.push_back({"maildir: " + n + " read + 1 new partner mail", Receive(setup, small_stored), 1, 64});
    }
    DeliverNew(maildir, new_big);
    results.push_back({"maildir: " + m, Receive(setup, big_stored), 0, 64});

    // The tests' Dovecot, over imaps with the tests' CA.
    const fs::path servers = dir / "servers";
    const std::string script = K500100_MAIL_SCRIPT;
    if (std::system((script + " start '" + servers.string() + "' >/dev/null").c_str()) == 0) {
        auto env = ReadEnv(servers / "servers.env");
        // The read mails go in with one doveadm import, new ones with doveadm save.
        const std::string doveadm =
            "doveadm -c '" + env["dovecot_conf"] + "' -o 'mail_location=mdbox:" + env["mdbox"] + "/edi-bench' ";
        const fs::path source = dir / "imap-source";
        FillReadMails(source, mails);
        const bool filled =
            std::system(("chown -R --reference='" + env["imap_mail"] + "' '" + source.string() + "' && " + doveadm +
                         "import -u edi-bench 'maildir:" + source.string() + "' '' all && " + doveadm +
                         "-f flow mailbox status -u edi-bench messages INBOX | grep -q ' messages=" + n + "$'")
                            .c_str()) == 0;
        const auto deliver = [&](const std::function<void(const fs::path&)>& write) {
            write(dir / "new.eml");
            return std::system((doveadm + "save -u edi-bench < '" + (dir / "new.eml").string() + "'").c_str()) == 0;
        };
        setup.mapi = "ProfileName=edi-bench\r\nPassword=secret\r\nStore=imaps://localhost:" + env["imaps_port"] +
                     "\r\nCAFile=" + env["pki"] + "/ca.pem\r\n";
        if (filled) {
            results.push_back({"imaps: " + n + " read, nothing new", Receive(setup, none), 1, 64});
            for (int round = 0; round < 3; ++round) {
                deliver(new_small);
                results.push_back({"imaps: " + n + " read + 1 new partner mail", Receive(setup, small_stored), 1, 64});
            }
            deliver(new_big);
            results.push_back({"imaps: " + m, Receive(setup, big_stored), 0, 64});
        } else {
            std::cout << "(doveadm import failed: the mailbox does not hold " << n << " mails)\n";
            results.push_back({"imaps: filling the mailbox", bench::Phase{}, 0, 64});
        }
        if (std::system((script + " stop '" + servers.string() + "'").c_str()) != 0) std::cout << "(stop failed)\n";
    } else {
        std::cout << "(the mail servers did not start: no imaps figures)\n";
    }

    bool all = true;
    std::printf("%-48s %9s %9s  %s\n", "run", "seconds", "peak MB", "target");
    for (const Result& r : results) {
        const double peak_mb = r.phase.peak_kib / 1024.0;
        const bool ok = r.phase.ok && peak_mb < r.max_mb && (r.max_seconds == 0 || r.phase.seconds < r.max_seconds);
        all = all && ok;
        std::string target = "< " + std::to_string(static_cast<int>(r.max_mb)) + " MB";
        if (r.max_seconds > 0) target = "< " + std::to_string(static_cast<int>(r.max_seconds)) + " s, " + target;
        std::printf("%-48s %9.3f %9.1f  %s %s\n", r.name.c_str(), r.phase.seconds, peak_mb, target.c_str(),
                    !r.phase.ok ? "FAILED (wrong result)"
                    : ok        ? "ok"
                                : "MISSED");
    }
    if (!keep) fs::remove_all(dir);
    return all ? 0 : 1;
}
