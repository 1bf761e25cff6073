#pragma once

// The program's own start-up and cycles run inside the test process, with the real remote
// components, so that a test can act as the operator in the middle of a transfer.
#include <filesystem>
#include <functional>
#include <memory>

#include "shell/program.h"
#include "support/fake_shell.h"

namespace vs::test {

class InProcessProgram {
  public:
    // Each maker receives the program's yield callable; either may be empty.
    using SftpMaker = std::function<std::unique_ptr<SftpComponent>(YieldFn)>;
    using FtpMaker = std::function<std::unique_ptr<FtpControl>(YieldFn)>;

    InProcessProgram(const std::filesystem::path& home, SftpMaker sftp, FtpMaker ftp);

    // "Termina Trasferimento" is chosen at the given yield of a download (0: never).
    void abortDownloadAtYield(int n) { abortAt_ = n; }
    Program& program() { return *program_; }
    bool logged(const std::string& text) const;

  private:
    SystemClock clock_;
    FakeView view_;
    FakeTimer timer_;
    int abortAt_ = 0;
    int yields_ = 0;
    std::unique_ptr<Program> program_;
};

}  // namespace vs::test
