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

void ArchiveWork::Add(Text text, BoxWhen when) {
    warnings_.push_back({std::move(text), when, std::move(untold_)});
    untold_.clear();
}

void ArchiveWork::Warn(Text text) { Add(std::move(text), BoxWhen::AtOnce); }

void ArchiveWork::Inform(Text text) { Add(std::move(text), BoxWhen::AfterTheGame); }

Failed ArchiveWork::Take(const StepOutcome& outcome) {
    for (const KeptAside& kept : outcome.kept) {
        const Text from = Files().FullPath(kept.from);
        Inform(kept.readWhileWritten ? KeptReadWhileWrittenText(from, Named(kept.as))
                                     : KeptAsideText(from, Named(kept.as)));
    }
    // A backup kept aside by a step that then failed is told on its own.
    if (outcome.failed && !outcome.backupKeptAs.empty()) {
        Inform(KeptAsideText(Files().FullPath(paths.GameArchiveBackup()),
                             Named(outcome.backupKeptAs)));
    }
    return outcome.failed;
}

Text ArchiveWork::Named(const Text& keptAs) {
    if (keptAs.empty()) return Text();
    if (GameLayout::IsUntoldKeptName(LastName(keptAs))) {
        untold_.push_back(keptAs);
        if (!namingEarlier_) ++keptNow_;
    }
    return Files().FullPath(GameLayout::ToldKeptPath(keptAs));
}

void ArchiveWork::TellEarlierKept() {
    namingEarlier_ = true;
    for (const Text& untold : UntoldKeptVersions(paths)) Inform(KeptEarlierText(Named(untold)));
    namingEarlier_ = false;
}

void ArchiveWork::TellAll(RunRecord& run) {
    run.versionsKept += keptNow_;
    keptNow_ = 0;
    for (const Warning& warning : warnings_) {
        if (!TellPlayer(run, MessageKind::Warning, warning.text, warning.when, warning.untold))
            continue;  // not told: each keeps its untold name, for the next run to tell
        // Not checked: a version that keeps its untold name is told again
        // by the next run.
        for (const Text& untold : warning.untold) (void)NameToldKeptVersion(untold);
    }
    warnings_.clear();
}
