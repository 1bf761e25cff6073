#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bandwidth_limit.h"
#include "common/byte_stream.h"
#include "common/clock.h"
#include "remote/remote_session.h"
#include "remote/sftp/component_events.h"
#include "remote/sftp/extra_channels.h"
#include "remote/sftp/pending_close.h"
#include "remote/sftp/round_trip.h"
#include "remote/sftp/ssh_session.h"
#include "remote/sftp_component.h"

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

// Downloads into `into` from byte `from` of the remote file on; returns the bytes received.
// With `expectedSize` (the whole file's) it asks for the bytes up to that size and stops once
// they are here; without, it reads to the end. Posts the attributes of the file as they were
// after the last byte was read, and leaves the file open in `openFile`, whose close goes with
// the next request. Keeps to `limit` when given.
std::int64_t fetchFile(SshSession& session, ByteSink& into, const std::string& remotePath,
                       std::optional<std::int64_t> expectedSize, std::int64_t from,
                       PendingClose& openFile, BandwidthLimit* limit, EventPoster& poster);

// Where an upload starts: at 0 a new file; further on, into the file already there, which
// holds the bytes before. `keepPartial`: a failed upload leaves what it wrote.
struct UploadStart {
    std::int64_t offset = 0;
    bool keepPartial = false;
};
inline constexpr std::int64_t kMostUnconfirmed = kSftpMostUnconfirmed;

// Uploads the source straight to the remote path; a failed or aborted upload removes what it
// wrote, unless told to keep it. Times the file's opening into `roundTrip`: on a long path it
// keeps as much in flight as the server's window takes. A large file that need not keep its
// partial copy goes through `channels` as well (paced_upload.h; a file cut off that is to be
// resumed must hold its bytes in order). Keeps to `limit` when given, on one channel.
void sendFile(SshSession& session, ByteSource& source, const std::string& remotePath,
              UploadStart start, RoundTrip& roundTrip, ExtraChannels& channels,
              BandwidthLimit* limit, EventPoster& poster);

// Sets the modification and access time of a remote file.
void setModified(SshSession& session, const std::string& remotePath, TimePoint modified,
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
