#pragma once

#include "journal/sqlite_database.h"

namespace vs {

// Brings a journal database to the form this program reads and writes: creates what is missing
// and adds the columns a newer program knows. Columns are only ever added, never renamed or
// dropped, so that the queries administrators keep go on working and an older program still
// reads a newer journal.
void prepareJournalSchema(sqlite::Database& db);

}  // namespace vs
