#include "cycle/staged_download.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "common/runtime_error.h"
#include "common/temporary_name.h"
#include "common/text.h"

namespace vs {

namespace fs = std::filesystem;

namespace {
// A resumed download goes on from a whole number of these: what the last write before a cut
// may have left half done is fetched again.
constexpr std::int64_t kResumeStep = 64 * 1024;
}  // namespace

void StagedDownload::FdSink::write(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw localFileError(errno, "Scrittura del file scaricato");
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void StagedDownload::Sink::write(const char* data, std::size_t size) {
    if (staged_.temporary_)
        staged_.temporary_->write(data, size);
    else
        staged_.part_.write(data, size);
    staged_.hash_.update(data, size);
}

StagedDownload::StagedDownload(const fs::path& stagingFolder, const Source& source,
                               TransferJournal* journal)
    : partsFolder_(partsFolder(stagingFolder)), source_(source), journal_(journal) {
    const bool worthResuming =
        journal_ && source_.size && *source_.size > kResumeFloor && source_.modified;
    if (!worthResuming) {
        temporary_.emplace(stagingFolder);
        return;
    }
    if (auto part = journal_->claimPartial(source_.job, Direction::Download, source_.remotePath,
                                           source_.localPath)) {
        if (resume(*part)) return;
        drop(part->partPath);
    }
    createPart();
}

StagedDownload::~StagedDownload() {
    if (partPath_.empty()) return;
    struct stat st {};
    const bool worthKeeping = ::fstat(part_.fd, &st) == 0 && st.st_size >= kResumeFloor;
    ::close(part_.fd);
    if (!worthKeeping) {
        try {
            drop(partPath_);
        } catch (const RuntimeError&) {
            // Its journal entry stays: the next cycle finds no sound part there and starts over.
        }
    }
}

int StagedDownload::fd() const {
    return temporary_ ? temporary_->fd() : part_.fd;
}

bool StagedDownload::resume(const PartialTransfer& part) {
    // Only a part of ours (in our folder, the very file we made), of the same version of the
    // remote file, holding enough to be worth it and less than the whole.
    if (fs::path(part.partPath).parent_path() != partsFolder_) return false;
    if (part.size != *source_.size || part.modified != *source_.modified) return false;
    const int fd = ::open(part.partPath.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != part.device ||
        st.st_ino != part.inode || st.st_size < kResumeFloor || st.st_size >= part.size) {
        ::close(fd);
        return false;
    }
    const std::int64_t from = st.st_size / kResumeStep * kResumeStep;
    if (::ftruncate(fd, from) != 0 || ::lseek(fd, from, SEEK_SET) != from) {
        ::close(fd);
        return false;
    }
    part_.fd = fd;
    partPath_ = part.partPath;
    // The digest covers the whole file: the staged bytes are read once here, before the rest
    // arrives.
    hashFilePrefix(fd, from, hash_);
    resumedFrom_ = from;
    return true;
}

void StagedDownload::createPart() {
    std::error_code ec;
    fs::create_directories(partsFolder_, ec);
    fs::path path;
    for (int attempt = 0; attempt < 16 && part_.fd < 0; ++attempt) {
        path = partsFolder_ / temporaryName();
        part_.fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (part_.fd < 0 && errno != EEXIST)
            throw localFileError(errno,
                                 "Creazione di un file in " + visible(partsFolder_.string()));
    }
    if (part_.fd < 0)
        throw localFileError(EEXIST, "Creazione di un file in " + visible(partsFolder_.string()));
    struct stat st {};
    ::fstat(part_.fd, &st);
    partPath_ = path.string();
    try {
        journal_->notePartial({source_.job, Direction::Download, source_.remotePath,
                               source_.localPath, partPath_, *source_.size, *source_.modified,
                               static_cast<std::uint64_t>(st.st_dev),
                               static_cast<std::uint64_t>(st.st_ino)});
    } catch (...) {
        ::close(part_.fd);
        ::unlink(partPath_.c_str());
        part_.fd = -1;
        partPath_.clear();
        throw;
    }
}

void StagedDownload::removePart(const fs::path& stagingFolder, const std::string& path) {
    if (fs::path(path).parent_path() == partsFolder(stagingFolder)) ::unlink(path.c_str());
}

void StagedDownload::drop(const std::string& path) {
    if (fs::path(path).parent_path() == partsFolder_) ::unlink(path.c_str());
    journal_->forgetPartial(path);
}

void StagedDownload::finished() {
    if (partPath_.empty()) return;
    ::close(part_.fd);
    part_.fd = -1;
    ::unlink(partPath_.c_str());
    partPath_.clear();
}

int removeOrphanParts(const fs::path& stagingFolder, const std::vector<std::string>& journalParts) {
    const fs::path folder = StagedDownload::partsFolder(stagingFolder);
    const std::set<std::string> known(journalParts.begin(), journalParts.end());
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    int removed = 0;
    while (dirent* e = ::readdir(dir)) {
        // Only names of ours whose process is certainly gone: a part still being written by a
        // second instance, or one the journal knows, stays.
        if (!isStaleTemporary(e->d_name) || known.count((folder / e->d_name).string())) continue;
        if (::unlinkat(::dirfd(dir), e->d_name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

}  // namespace vs
