#pragma once

#include <cstdint>
#include <string>

#include "remote/sftp/sftp_operations.h"

// A large upload whose write requests this program puts on the channels itself, each channel
// at a steady pace. Written through libssh2, an upload on a long path sends in bursts: libssh2
// takes no new data after a call that found the window full until an answer comes, and what
// it then sends arrives at once. OpenSSH's server reads a burst faster than it hands it to its
// SFTP server, and the data it holds meanwhile grows, each step a fresh copy: a 32 MiB upload
// at 100 ms spent a fifth of its time there. Sent at 20 MB/s a channel, the data never piles
// up, and four channels carry a file from the second round trip on.
namespace vs::sftp {

// Whether an upload goes this way: one that does not keep its partial file (its segments are
// written side by side), without a bandwidth limit, of at least 8 MiB.
bool goesPaced(UploadStart start, std::int64_t size, const BandwidthLimit* limit);

// As sendFile(), for an upload that goesPaced(). The session's own channel carries requests of
// this program's only while it runs: libssh2 must have none on the way (a downloaded file's
// close is collected first).
void sendPaced(SshSession& session, ByteSource& source, const std::string& remotePath,
               UploadStart start, RoundTrip& roundTrip, ExtraChannels& channels,
               EventPoster& poster);

// After a failed upload: removes what was written (a partial copy must not pass for the file)
// and says in the log whether it is gone. Whether it was removed.
bool removeUploaded(SshSession& session, const std::string& remotePath, EventPoster& poster);

}  // namespace vs::sftp
