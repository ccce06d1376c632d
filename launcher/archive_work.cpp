// What the archive steps give back, and the run's warnings kept in order.
#include "launcher/archive_work.h"

#include <utility>

#include "launcher/kept.h"

const Failed& StepOutcome::Add(const StepOutcome& other) {
    kept.insert(kept.end(), other.kept.begin(), other.kept.end());
    if (!other.backupKeptAs.empty()) backupKeptAs = other.backupKeptAs;
    failed = other.failed;
    return failed;
}

void StepOutcome::Add(const Retired& retired, const Text& from) {
    failed = retired.failed;
    if (retired.how == Retired::How::KeptAside) kept.push_back({from, retired.keptAs});
}

void ArchiveWork::Warn(Text text) { warnings_.push_back(std::move(text)); }

Failed ArchiveWork::Take(const StepOutcome& outcome) {
    for (const KeptAside& kept : outcome.kept) {
        const Text from = Files().FullPath(kept.from);
        Warn(kept.readWhileWritten ? KeptReadWhileWrittenText(from, Named(kept.as))
                                   : KeptAsideText(from, Named(kept.as)));
    }
    // A backup kept aside by a step that then failed is told on its own.
    if (outcome.failed && !outcome.backupKeptAs.empty()) {
        Warn(KeptAsideText(Files().FullPath(paths.GameArchiveBackup()),
                           Named(outcome.backupKeptAs)));
    }
    return outcome.failed;
}

Text ArchiveWork::Named(const Text& keptAs) {
    if (keptAs.empty()) return Text();
    if (GameLayout::IsUntoldKeptName(LastName(keptAs))) untold_.push_back(keptAs);
    return Files().FullPath(GameLayout::ToldKeptPath(keptAs));
}

void ArchiveWork::TellEarlierKept() {
    for (const Text& untold : UntoldKeptVersions(paths)) Warn(KeptEarlierText(Named(untold)));
}

void ArchiveWork::TellAll(RunRecord& run) {
    for (const Text& warning : warnings_) TellPlayer(run, MessageKind::Warning, warning);
    warnings_.clear();
    // Not checked: a version that keeps its untold name is told again by
    // the next run.
    for (const Text& untold : untold_) (void)NameToldKeptVersion(untold);
    untold_.clear();
}
