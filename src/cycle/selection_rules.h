#pragma once

#include <string>
#include <string_view>

#include "common/name_filters.h"
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

}  // namespace vs
