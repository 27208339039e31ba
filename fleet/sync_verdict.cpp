// The verdict: what came back as foreseen. Which changes a scale's replies confirm (every write
// answered as a scale answers, and when read back the record as foreseen), the image and the
// journal lines they make, the word for each scale (its status), and how its state is to be
// written. Scales of a group that answer alike share one verdict.
#include <algorithm>
#include <map>
#include <set>

#include "sync_work.h"
#include "vudaduv_codec.h"
#include "vudaduv_model.h"

namespace vudaduv::fleet {

namespace {

// Which changes the scale confirmed: every write answered as a scale answers and, when read
// back, the record as foreseen (a removal: nothing).
std::vector<bool> Confirmations(const SyncOptions& options, const Group& work,
                                const std::vector<std::string>& replies, std::vector<bool>& written,
                                std::vector<std::string>& notes) {
    std::vector<bool> confirmed(work.changes.size(), false);
    std::size_t at = 0;
    for (std::size_t i = 0; i < work.changes.size(); ++i) {
        bool answered = at + work.commandsOfChange[i] <= replies.size();
        for (std::size_t n = 0; answered && n < work.commandsOfChange[i]; ++n) {
            answered = model::IsScaleAnswer(replies[at + n]);
        }
        at += work.commandsOfChange[i];
        confirmed[i] = answered;
    }
    written = confirmed;
    if (!options.readBackSent) return confirmed;
    ReadOutcome back = ReadReplies(work.readBack, replies, work.writeCommands, options.en);
    std::set<RecordKey> answered(back.answered.begin(), back.answered.end());
    for (std::size_t i = 0; i < work.changes.size(); ++i) {
        const auto& change = work.changes[i];
        auto line = back.image.find(change.key);
        bool asForeseen = model::CameBackAsForeseen(
            change.foreseen, line == back.image.end() ? nullptr : &line->second);
        if (confirmed[i] && answered.count(change.key) != 0 && !asForeseen) {
            notes.push_back(
                KeyName(change.key) + ": came back as " +
                (line == back.image.end() ? std::string("nothing") : model::Quoted(line->second)));
        }
        confirmed[i] = confirmed[i] && answered.count(change.key) != 0 && asForeseen;
    }
    for (const std::string& broken : back.broken) notes.push_back(broken);
    return confirmed;
}

// The text of the held image once the confirmed changes are in.
std::string CommittedImage(const Image& held, const std::vector<Change>& changes,
                           const std::vector<bool>& confirmed) {
    std::map<RecordKey, const std::string*> taken;  // nullptr: emptied
    for (std::size_t i = 0; i < changes.size(); ++i) {
        if (confirmed[i])
            taken[changes[i].key] = changes[i].foreseen.empty() ? nullptr : &changes[i].foreseen;
    }
    std::string text;
    auto change = taken.begin();
    auto emit = [&text](const std::string* line) {
        if (line == nullptr) return;
        text += *line;
        text += '\n';
    };
    for (const auto& record : held) {
        for (; change != taken.end() && change->first < record.first; ++change)
            emit(change->second);
        if (change != taken.end() && change->first == record.first) {
            emit(change->second);
            ++change;
        } else {
            emit(&record.second);
        }
    }
    for (; change != taken.end(); ++change) emit(change->second);
    return text;
}

// A record's line in a journal: its upload line, or for a record emptied the upload line that
// holds nothing. "" for a record that has no such line (type 7 data, the key table).
std::string JournalLine(const RecordKey& key, const std::string& line) {
    if (!line.empty()) return line + "\n";
    std::string removal = RemovalLine(key);
    if (removal.empty()) return "";
    std::string empty = model::UploadPrefix(key.type) + removal;
    return HoldsNothing(empty) ? empty + "\n" : "";
}

// The journal lines of a scale: what its pending reads gave, then the changes it confirmed;
// false when one of them has no journal line.
bool JournalLinesOf(const ScaleWork& work, const Verdict& verdict, std::string& lines) {
    const Group& group = *work.group;
    std::set<RecordKey> confirmed;
    for (std::size_t i = 0; i < group.changes.size(); ++i) {
        if (verdict.confirmed[i]) confirmed.insert(group.changes[i].key);
    }
    for (const RecordKey& key : work.taken) {
        if (confirmed.count(key) != 0) continue;
        auto held = group.held->find(key);
        std::string line = JournalLine(key, held == group.held->end() ? "" : held->second);
        if (line.empty()) return false;
        lines += line;
    }
    lines += verdict.journal;
    return verdict.journalable;
}

}  // namespace

std::string Cause(const transport::ScaleResult& scale, std::size_t commands) {
    return transport::TransportFailure(scale.code, scale.answered, commands, 0, scale.cause);
}

// What the scale's replies confirm, taken from a scale of the group that answered alike when
// there is one.
const Verdict& VerdictOf(const SyncOptions& options, Group& group,
                         const std::vector<std::string>& replies) {
    for (const Verdict& verdict : group.verdicts) {
        if (verdict.replies == replies) return verdict;
    }
    Verdict verdict;
    verdict.replies = replies;
    verdict.confirmed = Confirmations(options, group, replies, verdict.written, verdict.notes);
    verdict.text = CommittedImage(*group.held, group.changes, verdict.confirmed);
    for (std::size_t i = 0; i < group.changes.size(); ++i) {
        if (!verdict.confirmed[i]) continue;
        std::string line = JournalLine(group.changes[i].key, group.changes[i].foreseen);
        verdict.journalable = verdict.journalable && !line.empty();
        verdict.journal += line;
    }
    // A scale that answered unlike the others is kept apart; only the first few are remembered.
    constexpr std::size_t kRemembered = 4;
    if (group.verdicts.size() == kRemembered) group.verdicts.erase(group.verdicts.begin());
    group.verdicts.push_back(std::move(verdict));
    return group.verdicts.back();
}

// The confirmed changes counted; the others stay pending.
std::vector<RecordKey> Commit(const Group& group, const Verdict& verdict, ScaleSync& result) {
    std::vector<RecordKey> open;
    for (std::size_t i = 0; i < group.changes.size(); ++i) {
        result.written += verdict.written[i] ? 1 : 0;
        if (verdict.confirmed[i]) {
            ++result.confirmed;
            result.removalsConfirmed += group.changes[i].foreseen.empty() ? 1 : 0;
        } else {
            open.push_back(group.changes[i].key);
        }
    }
    result.pending = open.size();
    result.notes.insert(result.notes.end(), verdict.notes.begin(), verdict.notes.end());
    if (!open.empty()) {
        result.failure = std::to_string(open.size()) + " of " +
                         std::to_string(group.changes.size()) +
                         " record(s) not confirmed by the scale";
    }
    return open;
}

// The word for a scale that was served: what its figures say happened.
SyncStatus StatusOf(const ScaleSync& scale, const ScaleWork& work, bool dryRun) {
    if (!scale.failure.empty()) return SyncStatus::kFailed;
    if (dryRun) return scale.sent + scale.removed > 0 ? SyncStatus::kPlanned : SyncStatus::kInStep;
    if (work.drift) return SyncStatus::kDriftRepaired;
    return scale.sent + scale.removed > 0 ? SyncStatus::kSynced : SyncStatus::kInStep;
}

// A scale the stop cut short (its exchange ended with WQDS_INTERNAL) or kept from being served.
void MarkInterrupted(ScaleSync& scale, const std::string& why) {
    scale.status = SyncStatus::kInterrupted;
    scale.failure = why;
}

// Stopped after the reads: nothing is sent, the state stays as it was, and every scale that had
// not failed on its own is interrupted.
void EndAfterReads(const std::vector<ScaleWork>& work, SyncResult& result) {
    result.interrupted = true;
    for (std::size_t i = 0; i < work.size(); ++i) {
        ScaleSync& scale = result.scales[i];
        if (scale.status == SyncStatus::kRefusedCap) continue;
        if (work[i].ready) {
            MarkInterrupted(scale, "interrupted before anything was sent");
        } else if (scale.code == WQDS_INTERNAL) {
            MarkInterrupted(scale, "interrupted while it was read");
        }
    }
}

bool EndedAsAsked(SyncStatus status) {
    return status != SyncStatus::kFailed && status != SyncStatus::kRefusedCap &&
           status != SyncStatus::kInterrupted;
}

const char* SyncStatusName(SyncStatus status) {
    switch (status) {
        case SyncStatus::kInStep:
            return "in-step";
        case SyncStatus::kSynced:
            return "synced";
        case SyncStatus::kDriftRepaired:
            return "drift-repaired";
        case SyncStatus::kRefusedCap:
            return "refused-cap";
        case SyncStatus::kFailed:
            return "failed";
        case SyncStatus::kInterrupted:
            return "interrupted";
        case SyncStatus::kPlanned:
            return "planned";
    }
    return "unknown";
}

// A journal holds lines of the state its image and its earlier lines make, in the image's
// character set; so a scale read in full, a change of character set or a record no line can
// empty writes the image whole, as does a journal that would outgrow its image (reading stays
// within twice the image, and the rewrite is paid for by the appends before it).
ScaleWrite HowToWrite(const ScaleWork& work, const Verdict& verdict, const std::string& charset,
                      const SyncOptions& options, StateText& stateText,
                      std::deque<std::string>& lineTexts) {
    const std::string* gbkLines = &verdict.journal;
    bool journalable = verdict.journalable;
    if (!work.taken.empty()) {
        lineTexts.emplace_back();
        journalable = JournalLinesOf(work, verdict, lineTexts.back());
        gbkLines = &lineTexts.back();
    }
    ScaleWrite write;
    bool whole = work.fullRead || !work.imageThere || !journalable;
    if (!whole && charset != options.stateCharset.name) {
        whole = stateText.Of(verdict.text).second != charset;
    }
    if (!whole && !gbkLines->empty()) {
        const std::pair<std::string, std::string>& lines = stateText.Of(*gbkLines);
        whole = lines.second != charset;
        write.lines = lines.first;
    }
    if (!whole && write.lines.empty()) return write;
    if (!whole && work.journalBytes + write.lines.size() <= work.stateBytes) {
        write.how = StateWrite::kAppend;
        return write;
    }
    const std::pair<std::string, std::string>& image = stateText.Of(verdict.text);
    write.how = !whole && image.second == charset ? StateWrite::kCompact : StateWrite::kReplace;
    write.image = image.first;
    write.charset = image.second;
    if (write.how == StateWrite::kReplace) write.lines = {};
    return write;
}

void SentReplies::Take(std::size_t job, std::size_t line, std::string&& reply) {
    Scale& scale = scales_[job];
    std::vector<std::string>& alike = groupOfJob_[job]->alike;
    scale.count = line + 1;
    if (scale.apart) {
        scale.own.push_back(std::move(reply));
    } else if (line == alike.size()) {
        alike.push_back(std::move(reply));
    } else if (line > alike.size() || alike[line] != reply) {
        scale.apart = true;
        std::size_t shared = std::min(line, alike.size());
        scale.own.assign(alike.begin(), alike.begin() + static_cast<std::ptrdiff_t>(shared));
        scale.own.push_back(std::move(reply));
    }
}

const std::vector<std::string>& SentReplies::Of(std::size_t job,
                                                std::vector<std::string>& scratch) const {
    const Scale& scale = scales_[job];
    if (scale.apart) return scale.own;
    const std::vector<std::string>& alike = groupOfJob_[job]->alike;
    if (scale.count == alike.size()) return alike;
    scratch.assign(alike.begin(), alike.begin() + static_cast<std::ptrdiff_t>(scale.count));
    return scratch;
}

}  // namespace vudaduv::fleet
