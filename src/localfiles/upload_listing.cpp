#include "localfiles/upload_listing.h"

#include <cstdio>
#include <unordered_set>

#include "common/clock.h"
#include "common/local_folder.h"
#include "common/runtime_error.h"
#include "common/selection_order.h"
#include "common/text.h"

namespace vs {

namespace {

std::string creationStamp(std::time_t t) {
    const LocalTime lt = toLocalTime(t);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", lt.year, lt.month, lt.day, lt.hour,
                  lt.minute, lt.second);
    return buf;
}

}  // namespace

void SelectionSort2(std::vector<UploadFileRow>& table) {
    std::vector<std::string> keys;
    keys.reserve(table.size());
    for (const UploadFileRow& r : table) keys.push_back(r.created);
    const std::vector<size_t> order = selectionSortOrder(keys);
    std::vector<UploadFileRow> sorted;
    sorted.reserve(table.size());
    for (size_t i : order) sorted.push_back(std::move(table[i]));
    table = std::move(sorted);
}

bool cerca_file(const std::vector<UploadFileRow>& table, const std::string& name) {
    for (const UploadFileRow& r : table)
        if (r.name == name) return true;
    return false;
}

void listacontenutoupload(const std::string& mypath, UploadListingContext& ctx) {
    ctx.List2.clear();
    try {
        std::vector<UploadFileRow> table;
        for (const LocalFile& f : ordinaryFiles(mypath))
            table.push_back({creationStamp(f.created), f.name});
        SelectionSort2(table);

        // More files than one cycle takes: the oldest go now, the rest in later cycles.
        std::size_t kept = table.size();
        if (kept > kUploadTableRows) {
            kept = kUploadTableRows;
            if (ctx.log)
                ctx.log((ctx.timeOfDay ? ctx.timeOfDay() : std::string()) + " Ci sono " +
                        std::to_string(table.size()) + " file in " + mypath + ": invio i " +
                        std::to_string(kUploadTableRows) +
                        " meno recenti, gli altri ai prossimi cicli");
        }

        const bool valsped = contains(toUpper(ctx.dirparametri), "VALSPED");
        std::unordered_set<std::string> names;  // companion lookups over the whole folder
        if (valsped)
            for (const UploadFileRow& r : table) names.insert(r.name);

        for (std::size_t i = 0; i < kept; ++i) {
            const std::string& name = table[i].name;
            if (!nameTest(ctx.filters, name)) continue;
            if (valsped && name.size() >= 2) {
                const std::string base = name.substr(0, name.size() - 2);
                for (const char* suffix : {".B", ".H", ".PDF", ".0"})
                    if (names.count(base + suffix)) ctx.List2.add(base + suffix);
            }
            ctx.List2.add(name);
        }
    } catch (const RuntimeError& e) {
        if (ctx.log) ctx.log("listacontenuto " + e.description());
    }
}

}  // namespace vs
