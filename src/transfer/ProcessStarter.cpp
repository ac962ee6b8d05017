#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>

#include "transfer/FileNaming.h"
#include "transfer/JobSeams.h"

extern char** environ;

namespace edi {

bool SplitCommandLine(const std::string& command_line, std::vector<std::string>& words) {
    words.clear();
    std::string word;
    bool in_word = false;
    enum class Quote { kNone, kSingle, kDouble } quote = Quote::kNone;
    for (std::size_t i = 0; i < command_line.size(); ++i) {
        const char c = command_line[i];
        switch (quote) {
            case Quote::kSingle:
                if (c == '\'') {
                    quote = Quote::kNone;
                } else {
                    word += c;
                }
                break;
            case Quote::kDouble:
                if (c == '"') {
                    quote = Quote::kNone;
                } else if (c == '\\' && i + 1 < command_line.size() &&
                           std::string_view("\"\\$`").find(command_line[i + 1]) != std::string_view::npos) {
                    word += command_line[++i];
                } else {
                    word += c;
                }
                break;
            case Quote::kNone:
                if (c == ' ' || c == '\t' || c == '\n') {
                    if (in_word) words.push_back(word);
                    word.clear();
                    in_word = false;
                } else if (c == '\'') {
                    quote = Quote::kSingle;
                    in_word = true;
                } else if (c == '"') {
                    quote = Quote::kDouble;
                    in_word = true;
                } else if (c == '\\' && i + 1 < command_line.size()) {
                    word += command_line[++i];
                    in_word = true;
                } else {
                    word += c;
                    in_word = true;
                }
                break;
        }
    }
    if (quote != Quote::kNone) return false;
    if (in_word) words.push_back(word);
    return true;
}

bool SpawnProcessStarter::RunAndWait(const std::string& command_line, const std::string& started_marker) {
    std::vector<std::string> words;
    if (!SplitCommandLine(command_line, words) || words.empty()) return false;
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // Descriptor 0 first holds the marker, created by the child, then /dev/null in its place.
    if (!started_marker.empty()) {
        posix_spawn_file_actions_addopen(&actions, 0, started_marker.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 2, 1);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> environment;
    std::string edi_in;
    if (receive_folder_ != nullptr && !receive_folder_->empty() && std::getenv("EDI_IN") == nullptr) {
        edi_in = "EDI_IN=" + PathInFolder(*receive_folder_, "");
        for (char** variable = environ; *variable != nullptr; ++variable) environment.push_back(*variable);
        environment.push_back(edi_in.data());
        environment.push_back(nullptr);
    }

    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(),
                                       environment.empty() ? environ : environment.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

}  // namespace edi
