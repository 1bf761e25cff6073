// Times the cycle's table work on large inputs: a 15,000-entry SFTP listing parsed, accepted,
// sorted and queued (automail and "TUTTI" names), and an upload folder of 1,500 files with
// companions listed and ordered. Prints each time beside its target and their ratio.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/work_list.h"
#include "cycle/sftp_listing.h"
#include "cycle/sort_keys.h"
#include "localfiles/upload_listing.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

std::string line(const std::string& name, int size) {
    return "-rw-r--r-- 1 1000 1000 " + std::to_string(size) + " Oct 16 14:30 " + name + "\r\n";
}

double listingRun(const std::string& type, int entries) {
    std::string text;
    for (int i = entries; i-- > 0;) {
        char name[64];
        if (type == "AUTOMAIL")
            std::snprintf(name, sizeof name, "%c%04d.AB%04d.t", 'A' + i % 26, i, i % 9999);
        else
            std::snprintf(name, sizeof name, "file_%05d.dat", i);
        text += line(name, 100 + i);
    }
    if (type == "TUTTI") text += line("scarica_ok", 0);

    std::string op = "TUTTI", list;
    vs::NameFilters filters;
    vs::ListingTable table;
    vs::WorkList queue;
    bool flag = false;
    vs::SftpListingContext ctx{type, op, list, filters, table, flag, "stamp", false, nullptr};
    const vs::LocalTime t{2009, 10, 16, 12, 0, 5, 5};

    const auto start = Clock::now();
    // The component delivers listings in batches of 500 lines.
    for (size_t at = 0, lines = 0, from = 0; at < text.size(); at += 2) {
        at = text.find("\r\n", at);
        if (++lines % 500 == 0 || at + 2 >= text.size()) {
            vs::sftp1_ListItems(text.substr(from, at + 2 - from), ctx);
            from = at + 2;
        }
    }
    vs::finishSftpListing(ctx);
    if (type == "AUTOMAIL") vs::SelectionSort(table, static_cast<long>(table.count()) - 1);
    for (size_t i = 0; i < table.count(); ++i) {
        const long r = static_cast<long>(i);
        table[i].key = type == "AUTOMAIL" ? vs::automailKey(table[i].name, r) : vs::timestampKey(t);
        queue.add(vs::queueItem(table[i].key, r, table[i].name), r);
    }
    while (!queue.empty()) queue.removeFirst();
    const auto end = Clock::now();
    if (table.count() != static_cast<size_t>(entries)) std::fprintf(stderr, "wrong count\n");
    return seconds(start, end);
}

double uploadRun(const std::filesystem::path& folder) {
    vs::WorkList list;
    vs::UploadListingContext ctx{{"", "", ".T"}, "VALSPED", list, nullptr, nullptr};
    const auto start = Clock::now();
    vs::listacontenutoupload(folder.string(), ctx);
    const auto end = Clock::now();
    if (list.count() != 1500) std::fprintf(stderr, "wrong upload count %zu\n", list.count());
    return seconds(start, end);
}

void report(const char* what, double took, double target) {
    std::printf("%-58s %8.4f s   target %.2f s   ratio %.3f  %s\n", what, took, target,
                took / target, took <= target ? "ok" : "OVER");
}

}  // namespace

int main() {
    auto best = [](auto run) {
        double b = 1e9;
        for (int i = 0; i < 3; ++i) b = std::min(b, run());
        return b;
    };
    report("15,000-entry SFTP listing, AUTOMAIL: parse+accept+sort+queue",
           best([] { return listingRun("AUTOMAIL", 15000); }), 0.5);
    report("15,000-entry SFTP listing, TUTTI: parse+accept+queue",
           best([] { return listingRun("TUTTI", 15000); }), 0.5);

    const auto folder = std::filesystem::temp_directory_path() / "vs-upload-bench";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    // 300 main files with four companions each: 1,500 files to send.
    for (int i = 0; i < 300; ++i)
        for (const char* ext : {".T", ".B", ".H", ".PDF", ".0"})
            std::ofstream(folder / ("S" + std::to_string(i) + ext)) << i;
    report("upload folder of 1,500 files with VALSPED companions",
           best([&] { return uploadRun(folder); }), 0.1);
    std::filesystem::remove_all(folder);
}
