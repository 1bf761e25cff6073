#include "support/in_process.h"

namespace vs::test {

InProcessProgram::InProcessProgram(const std::filesystem::path& home, SftpMaker sftp,
                                   FtpMaker ftp) {
    const YieldFn yield = [this] {
        if (abortAt_ > 0 && program_ && program_->session.currentOperation == "Download" &&
            ++yields_ == abortAt_)
            program_->session.abortRequest = true;
    };
    SftpComponentFactory sftpFactory;
    if (sftp) sftpFactory = [sftp, yield] { return sftp(yield); };
    FtpControlFactory ftpFactory;
    if (ftp) ftpFactory = [ftp, yield] { return ftp(yield); };
    program_ =
        std::make_unique<Program>(clock_, ProgramConfig{home, {}, "", englishWeekdayNames()},
                                  view_, timer_, sftpFactory, ftpFactory, yield, [](int) {});
    program_->Form_Load();
}

bool InProcessProgram::logged(const std::string& text) const {
    for (const std::string& l : program_->log.List1())
        if (l.find(text) != std::string::npos) return true;
    return false;
}

}  // namespace vs::test
