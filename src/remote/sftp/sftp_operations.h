#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bandwidth_limit.h"
#include "remote/remote_session.h"
#include "remote/sftp/component_events.h"
#include "remote/sftp/extra_channels.h"
#include "remote/sftp/pending_close.h"
#include "remote/sftp/round_trip.h"
#include "remote/sftp/ssh_session.h"

// The component's SFTP requests, run on the worker thread over an open session. Each reports
// through the poster and throws RuntimeError on failure: kErrRemote for a request the server
// refused (with the path and the server's status), kErrConnection for a lost or silent server
// (the session is then marked broken), kErrAborted for an aborted transfer, local file errors
// as their own numbers.
namespace vs::sftp {

// The folder's entries in ListItems parts of at most kListBatch entries.
inline constexpr int kListBatch = 500;
void listFolder(SshSession& session, const std::string& remoteFolder, EventPoster& poster);

void readAttributes(SshSession& session, const std::string& remotePath, EventPoster& poster);
// The attributes of several files, per path the attributes or the server's refusal. libssh2
// keeps one attribute request of a channel on the wire at a time: from a few files on, the
// requests all go out at once on a channel of `channels` whose answers are read here.
std::vector<StatOutcome> readAttributesTogether(SshSession& session, ExtraChannels& channels,
                                                const std::vector<std::string>& remotePaths);

// Returns once the bandwidth limit (when there is one) lets data move, or an abort is asked.
void keepToLimit(BandwidthLimit* limit, const EventPoster& poster);

// Downloads into the open local file `fd`; returns the bytes received. With `expectedSize` it
// asks for that many bytes and stops once they are here; without, it reads to the end. Posts
// the attributes of the file as they were after the last byte was read, and leaves the file
// open in `openFile`, whose close goes with the next request. Keeps to `limit` when given.
std::int64_t fetchFile(SshSession& session, int fd, const std::string& remotePath,
                       std::optional<std::int64_t> expectedSize, PendingClose& openFile,
                       BandwidthLimit* limit, EventPoster& poster);

// Uploads `size` bytes of the open local file `fd` straight to the remote path; a failed or
// aborted upload removes what it wrote. Times the file's opening into `roundTrip`: on a long
// path it keeps as much in flight as the server's window takes, and sends a large file in
// segments through `channels` as well. Keeps to `limit` when given.
void sendFile(SshSession& session, int fd, std::int64_t size, const std::string& remotePath,
              RoundTrip& roundTrip, ExtraChannels& channels, BandwidthLimit* limit,
              EventPoster& poster);

void removeFile(SshSession& session, const std::string& remotePath, EventPoster& poster);
// Renames, replacing a file already at `to`.
void renameFile(SshSession& session, const std::string& from, const std::string& to,
                EventPoster& poster);

// The Attributes event of what the server answered about a file.
AttributesEvent attributesOf(const LIBSSH2_SFTP_ATTRIBUTES& attrs);

// The server's reason for an SFTP status code, in words.
std::string sftpStatusText(unsigned long status);

}  // namespace vs::sftp
