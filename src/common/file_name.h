#pragma once

#include <string>
#include <string_view>

namespace vs {

// The one test for a name that comes from outside (a server's listing, a local folder): false
// for a name that could escape the folder it is used in (".", "..", a separator), forge a log
// line or a protocol command (CR, LF, NUL), not fit a local file name (over 255 bytes), or
// pass for one of our own temporary files. Such names are never listed.
bool isUsableFileName(std::string_view name);

// Temporary files of ours: hidden, of one fixed length whatever the final name, and carrying
// the process that made them, so that leftovers of a process that is gone can be told apart
// from the files of a second instance still at work:
//   .vs-0000012345-1a2b3c4d.tmp
std::string temporaryName();
bool isTemporaryName(std::string_view name);
// The process that made a temporary file, or 0 when the name is not one of ours.
long temporaryOwner(std::string_view name);

}  // namespace vs
