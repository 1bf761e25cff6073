#include "journal/history.h"

#include <system_error>

#include "common/runtime_error.h"
#include "common/text.h"
#include "journal/sqlite_database.h"

namespace vs {

int printHistory(const std::filesystem::path& journal, const std::optional<std::string>& text,
                 std::FILE* out, std::FILE* err) {
    std::error_code ec;
    if (!std::filesystem::exists(journal, ec)) {
        std::fprintf(err, "Nessun trasferimento registrato: %s non esiste\n", journal.c_str());
        return 0;
    }
    try {
        sqlite::Database db(journal.string(), false, true);
        // The index on `finished` gives the order; instr() is a plain byte search, so that a
        // '%' or '_' in the text means itself.
        sqlite::Statement rows(
            db, text ? "SELECT finished, job, direction, remote_path, local_path, size, "
                       "modified, sha256, resumed_from, outcome, detail FROM transfers "
                       "WHERE instr(remote_path, ?1) > 0 OR instr(local_path, ?1) > 0 "
                       "ORDER BY finished DESC, id DESC"
                     : "SELECT finished, job, direction, remote_path, local_path, size, "
                       "modified, sha256, resumed_from, outcome, detail FROM transfers "
                       "ORDER BY finished DESC, id DESC");
        if (text) rows.bind(1, *text);
        std::string line;
        while (rows.step()) {
            line.clear();
            for (int c = 0; c < 11; ++c) {
                if (c > 0) line += '\t';
                line += visible(rows.text(c));
            }
            line += '\n';
            std::fwrite(line.data(), 1, line.size(), out);
        }
    } catch (const RuntimeError& e) {
        std::fprintf(err, "%s\n", e.description().c_str());
        return 1;
    }
    return 0;
}

}  // namespace vs
