#pragma once

#include <optional>
#include <string>

namespace vs {

struct TransferJob;

// The coded fields of a job, read once from their texts (compared exactly, with case) when
// the settings are loaded or the editor stores a field. The job keeps its texts: they are what
// the file and the window show.
enum class Operation { None, Download, Upload };            // TipoOperazione
enum class FileType { Other, Tutti, PdfReport, Automail };  // TipoFile

struct JobCodes {
    Operation operation = Operation::None;
    FileType fileType = FileType::Other;
    bool deleteAtSource = false;  // CancelloFile "SI"
    // Dirmoltiplicatore with its lower-case "x" removed: the job runs every m-th cycle.
    int multiplier = 1;
    bool multiplierUsable = true;  // false: the text was not a positive number, taken as 1
    // DirRemota as configured. The cycle appends "/" to the text in memory; what names the
    // job to the outside (the metrics' labels) keeps this.
    std::string remoteFolder;
};

JobCodes parseJobCodes(const TransferJob& job);

// The server type ("tiposerver"): SFTP, plain FTP, FTP over explicit or implicit TLS.
enum class ServerType { Sftp, Ftp, Ftps, FtpsImplicito, Unknown };

ServerType parseServerType(const std::string& text);

}  // namespace vs
