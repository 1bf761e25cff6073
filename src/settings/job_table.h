#pragma once

#include <array>
#include <string>

#include "settings/job_codes.h"

namespace vs {

inline constexpr int kJobCount = 51;       // jobs 0 to 50
inline constexpr int kOperatorSlots = 12;  // automail operator boxes 0 to 11

// One transfer job: eight text fields, stored exactly as read or typed, and their coded
// values (refreshed whenever the texts are loaded or edited).
struct TransferJob {
    std::string DirRemota;
    std::string DirLocale;
    std::string TipoFile;
    std::string CancelloFile;
    std::string TipoOperazione;
    std::string DirLocaleBackup;
    std::string Dirmoltiplicatore;
    std::string Dirparametri;
    JobCodes codes;
};

using JobTable = std::array<TransferJob, kJobCount>;

// The settings keys' stems, in the order of a job's fields.
inline constexpr std::array<const char*, 8> kJobKeyStems = {
    "DirRemota_",      "DirLocale_",       "TipoFile_",          "CancelloFile_",
    "TipoOperazione_", "DirLocaleBackup_", "Dirmoltiplicatore_", "Dirparametri_"};

// The job's field for the stem at index i of kJobKeyStems.
std::string& jobField(TransferJob& job, int i);
const std::string& jobField(const TransferJob& job, int i);

// Row text of the job list: two-digit number, ") ", remote folder.
std::string listdirRow(int job, const std::string& dirRemota);

}  // namespace vs
