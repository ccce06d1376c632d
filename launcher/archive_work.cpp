// What the archive steps give back, and the run's warnings kept in order.
#include "launcher/archive_work.h"

#include <utility>

const Failed& StepOutcome::Add(StepOutcome other) {
    for (KeptAside& kept : other.kept) this->kept.push_back(std::move(kept));
    if (!other.backupKeptAs.empty()) backupKeptAs = std::move(other.backupKeptAs);
    failed = std::move(other.failed);
    return failed;
}

void ArchiveWork::Warn(Text text) { warnings_.push_back(std::move(text)); }

Failed ArchiveWork::Take(StepOutcome outcome) {
    for (const KeptAside& kept : outcome.kept) {
        Warn(KeptAsideText(Files().FullPath(kept.from), Files().FullPath(kept.as)));
    }
    return std::move(outcome.failed);
}

void ArchiveWork::TellAll(RunRecord& run) {
    for (const Text& warning : warnings_) TellPlayer(run, MessageKind::Warning, warning);
    warnings_.clear();
}
