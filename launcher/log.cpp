// The launcher's log: its lines, its bound, and its writing.
#include "launcher/log.h"

#include "launcher/file_system.h"
#include "launcher/gate.h"

namespace {

// The bytes a text takes in UTF-8, as the log is written.
std::size_t Utf8Size(TextView text) {
    std::size_t size = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char16_t unit = text[at];
        if (unit < 0x80) {
            size += 1;
        } else if (unit < 0x800) {
            size += 2;
        } else if (unit >= 0xD800 && unit < 0xDC00 && at + 1 < text.size() &&
                   text[at + 1] >= 0xDC00 && text[at + 1] < 0xE000) {
            size += 4;  // a surrogate pair
            ++at;
        } else {
            size += 3;
        }
    }
    return size;
}

}  // namespace

Text LogLine(std::uint64_t fileTime, TextView text) {
    const Text name = TimeName(fileTime);  // "YYYY-MM-DD-hhmmss"
    const std::size_t date = name.size() - 7;
    Text line = name.substr(0, date) + u" " + name.substr(date + 1, 2) + u":" +
                name.substr(date + 3, 2) + u":" + name.substr(date + 5, 2) + u" UTC  ";
    for (char16_t unit : text) line += unit == u'\r' || unit == u'\n' ? u' ' : unit;
    return line + u"\r\n";
}

Text WithLineAdded(const Text& log, const Text& line) {
    Text added = log;
    // A log that a kill or another program cut mid-line starts a line anew.
    if (!added.empty() && added.back() != u'\n') added += u"\r\n";
    added += line;
    std::size_t size = Utf8Size(added);
    std::size_t from = 0;
    while (size > kLogKeepsBytes && from < added.size() - line.size()) {
        const std::size_t end = added.find(u'\n', from);
        const std::size_t next = end == Text::npos ? added.size() : end + 1;
        size -= Utf8Size(TextView(added).substr(from, next - from));
        from = next;
    }
    return added.substr(from);
}

OsResult AddToLog(const GameLayout& paths, TextView text) {
    const Text log = paths.Log();
    if (OsResult made = ForceFolder(paths.GameBackupFolder()); !made) return made;
    Text before;
    if (OsResult read = Files().ReadSmallFile(log, before);
        !read && read.error != kErrorFileNotFound)
        return read;
    const Text after = WithLineAdded(before, LogLine(Files().SystemTime(), text));
    // Written whole beside the log and flushed, then renamed over it: a kill
    // or a full disk leaves the old log or the new one. A copy left beside
    // it is written over by the next line.
    const Text copy = GameLayout::Temporary(log);
    if (OsResult written = WriteLogText(paths, copy, after); !written) return written;
    return ReplaceLogText(paths, copy, log);
}
