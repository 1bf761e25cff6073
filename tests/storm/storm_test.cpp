// Many cycles under fire: producers writing and replacing files at both ends, two instances
// on one program folder, and SIGKILL at random moments; then clean runs. Every version a
// producer published last must end exactly once at its destination or still at its source,
// byte for byte, no file anywhere may hold anything but a published version, no temporary
// file of ours may be left, and the journal must be whole with every delivered file on record.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <thread>

#include "journal/sqlite_database.h"
#include "support/servers.h"

namespace vs::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Writes files into a folder the way producers do, and remembers every version it published.
class Producer {
  public:
    Producer(fs::path folder, unsigned seed) : folder_(std::move(folder)), random_(seed) {}

    void run(const std::atomic<bool>& stop) {
        for (int n = 0; !stop; ++n) {
            const std::string name = "f" + std::to_string(random_() % 40) + ".dat";
            const std::string data = patternBytes(20000 + random_() % 300000, random_());
            if (random_() % 2) {  // published whole, by rename (a new file or a new version)
                writeFile(folder_ / ("." + name + ".part"), data);
                versions[name].push_back(data);
                fs::rename(folder_ / ("." + name + ".part"), folder_ / name);
            } else if (!fs::exists(folder_ / name)) {  // written in place, slowly, while visible
                versions[name].push_back(data);
                std::ofstream out(folder_ / name, std::ios::binary);
                for (std::size_t at = 0; at < data.size(); at += 20000) {
                    out.write(data.data() + at, std::min<std::size_t>(20000, data.size() - at));
                    out.flush();
                    std::this_thread::sleep_for(40ms);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50 + random_() % 150));
        }
    }
    // Every version of every name, in order; the last one is the one that must survive. Read
    // once the producer's thread has ended.
    std::map<std::string, std::vector<std::string>> versions;

  private:
    fs::path folder_;
    std::mt19937 random_;
};

struct Tally {
    int delivered = 0, atSource = 0, lost = 0, corrupt = 0, leftovers = 0;
};

// One direction: last versions delivered or still at the source; nothing else anywhere.
void check(const std::map<std::string, std::vector<std::string>>& versions, const fs::path& source,
           const std::vector<fs::path>& destinations, Tally& t) {
    for (const auto& [name, all] : versions) {
        const std::string& last = all.back();
        const bool there =
            fs::exists(destinations[0] / name) && readFile(destinations[0] / name) == last;
        const bool kept = fs::exists(source / name) && readFile(source / name) == last;
        if (!there && !kept) std::cerr << "lost: " << name << "\n";
        there ? ++t.delivered : kept ? ++t.atSource : ++t.lost;
    }
    for (const fs::path& folder : destinations)
        for (const std::string& f : filesBelow(folder)) {
            const bool left = f.front() == '.' || f.find("/.") != std::string::npos;
            const auto it = versions.find(f);
            const bool corrupt =
                !left && (it == versions.end() ||
                          std::ranges::find(it->second, readFile(folder / f)) == it->second.end());
            if (left || corrupt) std::cerr << (left ? "left: " : "corrupt: ") << folder / f << "\n";
            t.leftovers += left;
            t.corrupt += corrupt;
        }
}

// As the program runs by hand, and as the service runs it: its own user, not the owner of the
// files (they go once they stayed the same for the settle time), with uploadtemp=SI.
struct Way {
    const char* name;
    bool serviceUser;
    const char* extra;
};

class Storm : public ::testing::TestWithParam<Way> {};

TEST_P(Storm, NothingLostNothingCorruptAfterFiftyKills) {
    const Way& way = GetParam();
    if (way.serviceUser && !canRunAsServiceUser()) GTEST_SKIP() << "needs root and nobody";
    TempDir dir;
    TestServer server(TestServer::Kind::Sftp, {"--max-rate", "4000000"});
    ASSERT_TRUE(server.ok());
    for (const char* f : {"in", "bak", "up", "home"}) fs::create_directories(dir / f);
    writeFile(server.local("out") / "scarica_ok", "");
    server.local("in");
    writeSettings(
        dir / "home", loginTo(server),
        {{"/in", (dir / "up").string(), "TUTTI", "SI", "Upload", "", "1x", "FINISCE:.dat;"},
         {"/out", (dir / "in").string(), "TUTTI", "SI", "Download", (dir / "bak").string(), "1x",
          "FINISCE:.dat;"}},
        way.extra);
    if (way.serviceUser)
        for (const char* f : {"in", "bak", "up", "home"}) handToServiceUser(dir / f);

    Producer partner(server.root() / "out", 1), local(dir / "up", 2);
    std::atomic<bool> stop{false};
    std::thread a([&] { partner.run(stop); }), b([&] { local.run(stop); });

    std::mt19937 random(3);
    int kills = 0, runs = 0;
    // Two spellings of one program folder: two instances side by side (plus:Y).
    const std::vector<std::string> homes{(dir / "home").string(), (dir / "home" / ".").string()};
    while (kills < 50) {
        std::vector<std::unique_ptr<ServerProcess>> instances;
        for (int i = 0; i < 1 + static_cast<int>(random() % 2); ++i) {
            instances.push_back(std::make_unique<ServerProcess>());
            startProgram(*instances.back(), homes[i], {"mod:asp", "plus:Y"}, {}, "",
                         way.serviceUser);
            ++runs;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300 + random() % 2500));
        for (auto& p : instances)
            if (p->running()) {
                p->signal(SIGKILL);
                ++kills;
            }
        for (auto& p : instances) p->wait(5s);
    }
    stop = true;
    a.join();
    b.join();
    const int clean = 3;
    for (int i = 0; i < clean; ++i) runProgram(dir / "home", {"mod:asp"}, 120, {}, way.serviceUser);

    Tally t;
    check(partner.versions, server.root() / "out", {dir / "in", dir / "bak"}, t);
    check(local.versions, dir / "up", {server.root() / "in"}, t);
    t.leftovers += static_cast<int>(filesBelow(dir / "home" / "tempozipftp").size());

    // The journal: whole after the kills, and every file delivered on record with its bytes'
    // SHA-256 (two instances may record two versions in either order: any of its rows).
    sqlite::Database journal((dir / "home" / "journal.db").string(), false);
    sqlite::Statement integrity(journal, "PRAGMA integrity_check");
    integrity.step();
    sqlite::Statement row(journal,
                          "SELECT count(*) FROM transfers WHERE outcome = 'delivered' AND "
                          "(local_path = ?1 OR remote_path = ?1) AND sha256 = ?2");
    int unrecorded = 0;
    const auto recorded = [&](const std::string& path, const fs::path& file) {
        row.reset();
        row.bind(1, path).bind(2, sha256Of(readFile(file))).step();
        if (row.integer(0) == 0) std::cerr << "not on record: " << file << "\n";
        unrecorded += row.integer(0) == 0;
    };
    for (const std::string& f : filesBelow(dir / "in"))
        recorded((dir / "in" / f).string(), dir / "in" / f);
    for (const std::string& f : filesBelow(server.root() / "in"))
        recorded("/in/" + f, server.root() / "in" / f);
    std::cout << "storm " << way.name << ": " << runs << " runs, " << kills << " kills, " << clean
              << " clean runs; both ways: " << t.delivered << " delivered, " << t.atSource
              << " at the source, " << t.lost << " lost, " << t.corrupt << " corrupt, "
              << t.leftovers << " temporary files left; journal " << integrity.text(0) << ", "
              << unrecorded << " delivered files not on record\n";
    EXPECT_GE(kills, 50);
    // Nothing lost, corrupt or left over; the clean runs moved everything.
    EXPECT_EQ(t.lost + t.corrupt + t.leftovers + t.atSource, 0);
    EXPECT_EQ(integrity.text(0), "ok");
    EXPECT_EQ(unrecorded, 0);
}

INSTANTIATE_TEST_SUITE_P(Ways, Storm,
                         ::testing::Values(Way{"ByHand", false, ""},
                                           Way{"AsTheService", true,
                                               "uploadtemp=SI\r\nattesastabile=1\r\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vs::test
