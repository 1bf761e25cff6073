#include "settings/job_table.h"

#include "common/text.h"

namespace vs {

std::string& jobField(TransferJob& job, int i) {
    switch (i) {
        case 0:
            return job.DirRemota;
        case 1:
            return job.DirLocale;
        case 2:
            return job.TipoFile;
        case 3:
            return job.CancelloFile;
        case 4:
            return job.TipoOperazione;
        case 5:
            return job.DirLocaleBackup;
        case 6:
            return job.Dirmoltiplicatore;
        default:
            return job.Dirparametri;
    }
}

const std::string& jobField(const TransferJob& job, int i) {
    return jobField(const_cast<TransferJob&>(job), i);
}

std::string listdirRow(int job, const std::string& dirRemota) {
    return zeroPad(job, 2) + ") " + dirRemota;
}

}  // namespace vs
