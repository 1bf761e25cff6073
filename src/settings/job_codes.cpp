#include "settings/job_codes.h"

#include "common/text.h"
#include "settings/job_table.h"

namespace vs {

JobCodes parseJobCodes(const TransferJob& job) {
    JobCodes c;
    if (job.TipoOperazione == "Download") c.operation = Operation::Download;
    if (job.TipoOperazione == "Upload") c.operation = Operation::Upload;
    if (job.TipoFile == "TUTTI") c.fileType = FileType::Tutti;
    if (job.TipoFile == "PDFREPORT") c.fileType = FileType::PdfReport;
    if (job.TipoFile == "AUTOMAIL") c.fileType = FileType::Automail;
    c.deleteAtSource = job.CancelloFile == "SI";
    c.remoteFolder = job.DirRemota;

    std::string m;
    for (char ch : job.Dirmoltiplicatore)
        if (ch != 'x') m += ch;
    if (!m.empty() && m != "1") {
        const auto n = parseInteger(m);
        c.multiplierUsable = n && *n > 0 && *n <= 1000000;
        c.multiplier = c.multiplierUsable ? static_cast<int>(*n) : 1;
    }
    return c;
}

ServerType parseServerType(const std::string& text) {
    if (text == "Sftp") return ServerType::Sftp;
    if (text == "Ftp") return ServerType::Ftp;
    if (text == "Ftps") return ServerType::Ftps;
    if (text == "FtpsImplicito") return ServerType::FtpsImplicito;
    return ServerType::Unknown;
}

}  // namespace vs
