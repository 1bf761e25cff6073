#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/name_filters.h"
#include "common/work_list.h"

namespace vs {

// A file table row: creation time as "yyyymmddhhmmss" and the bare name.
struct UploadFileRow {
    std::string created;
    std::string name;
};

struct UploadListingContext {
    NameFilters filters;
    std::string dirparametri;  // the job's parameter text ("VALSPED" adds companions)
    WorkList& List2;
    std::function<void(const std::string&)> log;  // a full line, as given
    std::function<std::string()> timeOfDay;       // "hh:mm:ss" for the lines that carry it
};

inline constexpr std::size_t kUploadTableRows = 1500;

// Fills List2 with the names to send from the folder: oldest first by creation time, those
// passing the filters, with the companions of "VALSPED" jobs just before their main file.
void listacontenutoupload(const std::string& mypath, UploadListingContext& ctx);

// Rows ordered by creation time, as a selection sort leaves them.
void SelectionSort2(std::vector<UploadFileRow>& table);
bool cerca_file(const std::vector<UploadFileRow>& table, const std::string& name);

}  // namespace vs
