// One terminal of the concurrency test: connects, says it is ready, waits for the start
// signal, then opens job rows as fast as it can.
//   history_worker CONNECT_STRING COUNT READY_FILE GO_FILE
// Exit 0 when every open gave "0000".
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "startup/DbSession.h"
#include "transfer/ProcessHistory.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: history_worker CONNECT_STRING COUNT READY_FILE GO_FILE\n";
        return 2;
    }
    edi::WorkArea work;
    std::string error;
    work.Db = edi::DbSession::Open(argv[1], "worker", error);
    if (!work.Db) {
        std::cerr << "history_worker: " << error << "\n";
        return 2;
    }
    std::ofstream(argv[3]) << "ready\n";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!std::filesystem::exists(argv[4])) {
        if (std::chrono::steady_clock::now() > deadline) return 3;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const int count = std::stoi(argv[2]);
    const edi::SystemClock clock;
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        edi::HistoryStart job;
        job.送受信種別 = "R";
        job.相手先種別 = "2";
        job.処理種別 = "03";
        job.センターコード = "W";
        edi::OpenJobHistory(work, job, clock);
        if (job.Result != "0000") {
            std::cerr << "history_worker: open " << i << " gave " << job.Result << ": " << work.Db->LastError() << "\n";
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
