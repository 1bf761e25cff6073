// The journal's cost per file, and a journal of many rows for timing --history.
//   journal_bench <database> <rows>
// Records `rows` transfers into a fresh database in five runs of equal size, one transaction
// each as the cycle does, and prints the cost per file of each run (a record, and a record with
// the skip-unchanged lookup that precedes it under SoloNuovi_N=SI), then the median and spread.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "journal/journal.h"

namespace {

using Steady = std::chrono::steady_clock;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: journal_bench <database> <rows>\n");
        return 2;
    }
    const std::string path = argv[1];
    const long rows = std::stol(argv[2]);
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
    vs::SystemClock clock;
    vs::Journal journal(path, clock, ::getpid(), nullptr);
    const std::string sha(64, 'a');
    std::vector<double> record, lookupAndRecord;
    const long perRun = rows / 10;
    long n = 0;
    for (int run = 0; run < 5; ++run) {
        for (int withLookup = 0; withLookup < 2; ++withLookup) {
            const auto began = Steady::now();
            for (long i = 0; i < perRun; ++i, ++n) {
                vs::TransferEntry e = vs::fileVersion(
                    static_cast<int>(n % 51),
                    n % 2 ? vs::Direction::Upload : vs::Direction::Download,
                    "/partner/out/file" + std::to_string(n) + ".pdf",
                    "/srv/valtrasso/in/file" + std::to_string(n) + ".pdf", 100000 + n, clock.now());
                e.sha256 = sha;
                if (withLookup)
                    journal.known(
                        e.job, e.direction,
                        e.direction == vs::Direction::Download ? e.remotePath : e.localPath, e.size,
                        *e.modified);
                journal.record(e);
            }
            const double us =
                std::chrono::duration<double, std::micro>(Steady::now() - began).count() / perRun;
            (withLookup ? lookupAndRecord : record).push_back(us);
        }
    }
    for (const auto& [name, v] :
         {std::pair{"record", record}, {"lookup+record", lookupAndRecord}}) {
        std::printf("%-14s per file, us:", name);
        for (double x : v) std::printf(" %.0f", x);
        std::printf("  median %.0f, spread %.0f..%.0f\n", median(v),
                    *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
    }
    std::printf("rows: %ld\n", n);
    return 0;
}
