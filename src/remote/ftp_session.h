#pragma once

#include <cstdint>
#include <string>

#include "common/clock.h"
#include "common/listing_table.h"
#include "common/work_list.h"
#include "remote/ftp_control.h"
#include "remote/session_state.h"

namespace vs {

class ActivityLog;
struct ServerFields;

// What the FTP listing reads and fills.
struct FtpListingContext {
    ListingTable& table;
    WorkList& List2;
    const std::string& currentFileType;
    std::string& operatorCode;  // becomes "SELETTIVO" once an automail listing meets a list
    const std::string& operatorList;
};

// Opens FTP sessions, handles the control's progress event and lists remote folders.
class FtpSession {
  public:
    FtpSession(SessionState& state, const ServerFields& server, ActivityLog& log,
               const Clock& clock, FtpControl* control);

    void connetti_ftp();
    void kftp_Progress(std::uint8_t& percentage);
    // Lists one remote folder for a download job into the listing table.
    void listftpprova(const std::string& dirremota, FtpListingContext& ctx);

    // The control; throws when the program has none.
    FtpControl& kftp() const;

  private:
    void line(const std::string& text);

    SessionState& state_;
    const ServerFields& server_;
    ActivityLog& log_;
    const Clock& clock_;
    FtpControl* control_;
};

}  // namespace vs
