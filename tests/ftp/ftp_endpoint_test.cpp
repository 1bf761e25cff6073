// The port the FTP session connects to: the server type's own unless the host field names one.
#include <gtest/gtest.h>

#include "remote/ftp_session.h"

namespace vs {
namespace {

TEST(FtpEndpoint, ImplicitTlsDefaultsTo990AndAWrittenPortWins) {
    EXPECT_EQ(ftpEndpoint(ServerType::Ftps, "h").port, 21);
    EXPECT_EQ(ftpEndpoint(ServerType::FtpsImplicito, "h").port, 990);
    const FtpEndpoint written = ftpEndpoint(ServerType::FtpsImplicito, "h:2121");
    EXPECT_TRUE(written.host == "h" && written.port == 2121);
}

}  // namespace
}  // namespace vs
