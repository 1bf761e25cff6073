#pragma once

#include <string>
#include <string_view>

#include "common/name_filters.h"
#include "remote/remote_listing.h"
#include "settings/job_codes.h"

namespace vs {

NameFilters parseNameFilters(const std::string& dirparametri);

// Wildcard pattern asking whether a local folder holds any file worth a closer look;
// allFiles when no filter is set ("*" in the pre-scan, "*.*" in the upload).
std::string folderPattern(const NameFilters& filters, const std::string& allFiles);

// Whether an automail base passes the operator list ("" = every base passes).
bool operatorFilter(const std::string& base, const std::string& operatorList);

// The file-type acceptance of one listed entry.
bool acceptFileType(std::string_view name, bool isFile, FileType fileType,
                    const std::string& operatorCode, const std::string& operatorList);

// The file-type rules by ".t" files (ListingPolicy::FileTypes::DotTFiles): whether an entry is
// taken, and the sort keys of its rows, 15 characters each.
struct DotTSelection {
    bool taken = false;
    std::string key;           // of the entry's own row
    std::string companionKey;  // of the rows a ".t" file brings for its companions
};
DotTSelection selectDotTFile(const RemoteEntry& entry, FileType fileType, std::string& operatorCode,
                             const std::string& operatorList);

}  // namespace vs
