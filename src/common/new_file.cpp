#include "common/new_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "common/runtime_error.h"
#include "common/temporary_name.h"
#include "common/text.h"

namespace vs {

namespace fs = std::filesystem;

namespace {

constexpr int kCreateAttempts = 16;

// Makes a rename durable: the folder's entry reaches the disk with the file's data.
void syncFolder(const fs::path& folder) {
    int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return;
    ::fsync(dfd);
    ::close(dfd);
}

}  // namespace

NewFile::NewFile(fs::path folder) : folder_(std::move(folder)) {
    for (int attempt = 0; attempt < kCreateAttempts && fd_ < 0; ++attempt) {
        path_ = folder_ / temporaryName();
        // O_EXCL never opens what is already there, a planted link included.
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd_ < 0 && errno != EEXIST)
            throw localFileError(errno, "Creazione di un file in " + visible(folder_.string()));
    }
    if (fd_ < 0)
        throw localFileError(EEXIST, "Creazione di un file in " + visible(folder_.string()));
}

NewFile::~NewFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(path_.c_str());
}

std::int64_t NewFile::size() const {
    struct stat st {};
    return fd_ >= 0 && ::fstat(fd_, &st) == 0 ? st.st_size : -1;
}

void NewFile::write(const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw localFileError(errno, "Scrittura in " + visible(folder_.string()));
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void NewFile::commit(const std::string& finalName) {
    const fs::path target = folder_ / finalName;
    const std::string what = "Scrittura di " + visible(target.string());
    if (::fsync(fd_) != 0) throw localFileError(errno, what);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw localFileError(errno, what);
    if (::rename(path_.c_str(), target.c_str()) != 0) throw localFileError(errno, what);
    committed_ = true;
    syncFolder(folder_);
}

std::int64_t copyIntoPlace(int from, const fs::path& folder, const std::string& name,
                           std::int64_t expected, std::optional<TimePoint> modified) {
    NewFile to(folder);
    std::vector<char> buffer(256 * 1024);
    std::int64_t copied = 0;
    for (;;) {
        ssize_t n = ::pread(from, buffer.data(), buffer.size(), copied);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw localFileError(errno,
                                 "Lettura per la copia in " + visible((folder / name).string()));
        }
        if (n == 0) break;
        to.write(buffer.data(), static_cast<std::size_t>(n));
        copied += n;
    }
    if (expected >= 0 && copied != expected)
        throw RuntimeError(kErrGeneric, "Copia in " + visible((folder / name).string()) +
                                            " incompleta: " + std::to_string(copied) + " di " +
                                            std::to_string(expected) + " byte");
    if (modified) {
        const auto since = modified->time_since_epoch();
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
        timespec t{};
        t.tv_sec = static_cast<std::time_t>(seconds.count());
        t.tv_nsec = static_cast<long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
        const timespec times[2] = {t, t};
        if (::futimens(to.fd(), times) != 0)
            throw localFileError(errno, "Data di " + visible((folder / name).string()));
    }
    to.commit(name);
    return copied;
}

int removeStaleTemporaries(const fs::path& folder, bool everything) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    std::vector<std::string> stale;
    while (dirent* e = ::readdir(dir)) {
        // Only names that are certainly ours: a "<name>.vs-part" may be a user's or a partner's.
        const bool ours = isStaleTemporary(e->d_name);
        const bool leftover = everything && e->d_type == DT_REG && !isTemporaryName(e->d_name);
        if (ours || leftover) stale.push_back(e->d_name);
    }
    int removed = 0;
    for (const std::string& name : stale)
        if (::unlinkat(::dirfd(dir), name.c_str(), 0) == 0) ++removed;
    ::closedir(dir);
    return removed;
}

}  // namespace vs
