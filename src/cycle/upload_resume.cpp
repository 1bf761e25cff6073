#include <filesystem>

#include "common/sha256.h"
#include "common/source_file.h"
#include "common/temporary_name.h"
#include "common/text.h"
#include "cycle/cycle.h"
#include "cycle/staged_download.h"
#include "settings/settings.h"

namespace vs {

std::string Cycle::uploadTarget(TransferJob& job, TransferEntry& entry, const SourceFile& source,
                                HashingSource& hashed, SendPlan& plan) {
    TransferJournal* j = journal();
    const FileIdentity& id = source.identity();
    if (!j || source.size() <= StagedDownload::kResumeFloor || !entry.modified)
        return job.DirRemota + temporaryName();
    std::string target;
    fileStep([&] {
        if (auto earlier =
                j->claimPartial(entry.job, Direction::Upload, entry.remotePath, entry.localPath)) {
            // Only a temporary of ours in this folder, of this very file, unchanged since.
            const std::filesystem::path at(earlier->partPath);
            bool sound = at.parent_path().string() + "/" == job.DirRemota &&
                         isTemporaryName(at.filename().string()) &&
                         earlier->size == source.size() && earlier->modified == *entry.modified &&
                         earlier->device == static_cast<std::uint64_t>(id.device) &&
                         earlier->inode == static_cast<std::uint64_t>(id.inode);
            std::int64_t from = 0;
            if (sound) {
                try {
                    from = session().resumableBytes(earlier->partPath);
                } catch (const RuntimeError& e) {
                    if (e.number() == kErrConnection) throw;  // gone from the server: from zero
                }
                sound = from >= StagedDownload::kResumeFloor && from < source.size();
            }
            if (sound) {
                hashed.hashPrefix(from);
                plan = {from, true};
                entry.resumedFrom = from;
                target = earlier->partPath;
                line(" Upload ripreso da " + std::to_string(from) + " byte " +
                     visible(entry.remotePath));
                return;
            }
            // In doubt, from zero: what the earlier upload left goes.
            try {
                session().remove(earlier->partPath);
            } catch (const RuntimeError& e) {
                if (e.number() == kErrConnection) throw;
            }
            j->forgetPartial(earlier->partPath);
        }
        target = job.DirRemota + temporaryName();
        j->notePartial({entry.job, Direction::Upload, entry.remotePath, entry.localPath, target,
                        source.size(), *entry.modified, static_cast<std::uint64_t>(id.device),
                        static_cast<std::uint64_t>(id.inode)});
        plan = {0, true};
    });
    return target.empty() ? job.DirRemota + temporaryName() : target;
}

}  // namespace vs
