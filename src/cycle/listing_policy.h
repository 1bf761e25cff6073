#pragma once

namespace vs {

// The rules of a remote listing that differ between the two kinds of server the program keeps,
// written out one by one. The cycle gets them with its session (RemoteServer); the reader
// (admitListing) applies them and never asks which server it has.
struct ListingPolicy {
    enum class FileTypes {
        // Each file on its own: regular files alone; a report's name must end in ".pdf" or
        // ".gz"; an automail file of any of its five extensions passes the operator filter by
        // itself. The rows take their sort keys and sizes later, from each file's attributes.
        EachFile,
        // By the ".t" file: only "TUTTI" looks at the kind, and only to leave folders out; a
        // report of any operator passes under the code "SELETTIVO"; an automail file passes by
        // its ".t" name and brings rows for its ".H", ".0" and ".B" companions, and an
        // operator list turns the operator code into "SELETTIVO" for the rest of the run. The
        // rows take their sort keys (the listed time of day) and sizes from the listing.
        DotTFiles,
    };
    enum class Cut {
        // An automail job takes the first 200 names in name order; the rest wait.
        AutomailNames,
        // Reading stops, with a line, when a line leaves exactly 200 rows in; the row of a
        // "TUTTI" job never stops it.
        Rows,
    };

    FileTypes fileTypes;
    bool nameFilters;  // the job's prefix, contains and suffix filters apply
    // A "TUTTI" folder is taken only while it holds the control file "scarica_ok", which is
    // never a row itself.
    bool controlFile;
    Cut cut;
    bool logsEntries;  // every entry's name, and the end of the listing, are logged
};

inline constexpr ListingPolicy kSftpListing{ListingPolicy::FileTypes::EachFile, true, true,
                                            ListingPolicy::Cut::AutomailNames, false};
inline constexpr ListingPolicy kFtpListing{ListingPolicy::FileTypes::DotTFiles, false, false,
                                           ListingPolicy::Cut::Rows, true};

}  // namespace vs
