#include "common/runtime_error.h"

#include <cerrno>
#include <cstring>

namespace vs {

RuntimeError localFileError(int err, const std::string& what) {
    int number = kErrGeneric;
    switch (err) {
        case ENOENT:
            number = kErrFileNotFound;
            break;
        case ENOTDIR:
            number = kErrPathNotFound;
            break;
        case EACCES:
        case EPERM:
        case EROFS:
            number = kErrPermissionDenied;
            break;
        case ENOSPC:
        case EDQUOT:
            number = kErrDiskFull;
            break;
        case ENAMETOOLONG:
            number = kErrBadFileName;
            break;
        default:
            break;
    }
    return RuntimeError(number, what + ": " + std::strerror(err));
}

}  // namespace vs
