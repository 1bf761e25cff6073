#include "service/journal_stream.h"

#include <sys/stat.h>

#include <cstdio>

namespace vs {

namespace {

constexpr int kErr = 3;
constexpr int kWarning = 4;
constexpr int kInfo = 6;

// The texts of the lines that report a failure: a connection, a transfer, a folder or the
// settings that did not work.
constexpr std::string_view kErrorTexts[] = {
    "****** ERRORE ****",
    " Not Connected ! ",
    "Connect Failed ",
    " Connecting Sftp Error ",
    " connetti_ftp ",
    " kftp_Progress ",
    " Download incorretto ",
    " Impossibile inviare il file ",
    " CON ERRORI",
    " File cambiato durante l'invio",
    " Nessuna connessione",
    " Ciclo interrotto",
    "Parametri non utilizzabili",
    "Impossibile creare la directory",
    " Impossibile scrivere il log",
    "Errore in scrittura nel file",
    "listacontenuto ",
    "prova non riuscita",
};

// Lines about something that did not go as it should, yet is no failure of its own.
constexpr std::string_view kWarningTexts[] = {
    " File remoto non cancellato",      " Non posso scaricare i file", " Il file incompleto",
    " File sostituito durante l'invio", " Elenco troppo lungo",        "Log non scrivibile",
    "Moltiplicatore non valido",        "Metriche non scritte",        "Allarme failing",
};

}  // namespace

bool isJournalStream(int fd, const char* journalStreamVariable) {
    if (!journalStreamVariable) return false;
    unsigned long long device = 0, inode = 0;
    char end = 0;
    if (std::sscanf(journalStreamVariable, "%llu:%llu%c", &device, &inode, &end) != 2) return false;
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

int linePriority(std::string_view line) {
    for (std::string_view text : kErrorTexts)
        if (line.find(text) != std::string_view::npos) return kErr;
    if (line.starts_with("Parametri,") || line.starts_with("Parametri:")) return kWarning;
    for (std::string_view text : kWarningTexts)
        if (line.find(text) != std::string_view::npos) return kWarning;
    return kInfo;
}

std::string journalPrefix(std::string_view line, bool journal) {
    if (!journal) return {};
    return "<" + std::to_string(linePriority(line)) + ">";
}

}  // namespace vs
