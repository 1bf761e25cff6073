#include "common/local_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "common/runtime_error.h"

namespace vs {

namespace {
RuntimeError unreadable(const std::string& path, int err) {
    return RuntimeError(kErrBadFileName, "Nome o numero di file non valido: " + path + " (" +
                                             std::strerror(err) + ")");
}
}  // namespace

bool folderExists(const std::string& path) {
    if (path.empty()) return false;
    if (path.find('\0') != std::string::npos) throw unreadable(path, EINVAL);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    if (errno == ENOENT || errno == ENOTDIR) return false;
    throw unreadable(path, errno);
}

std::vector<LocalFile> ordinaryFiles(const std::filesystem::path& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) throw unreadable(folder.string(), errno);
    std::vector<LocalFile> files;
    const int dfd = ::dirfd(dir);
    while (dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') continue;  // hidden, "." and ".."
        struct statx sx {};
        if (::statx(dfd, e->d_name, AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_BTIME | STATX_MTIME,
                    &sx) != 0)
            continue;  // gone meanwhile
        if (!S_ISREG(sx.stx_mode)) continue;
        LocalFile f;
        f.name = e->d_name;
        f.created = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_mtime.tv_sec;
        files.push_back(std::move(f));
    }
    ::closedir(dir);
    return files;
}

}  // namespace vs
