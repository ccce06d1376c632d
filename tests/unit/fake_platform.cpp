#include "fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "launcher/marker.h"
#include "launcher/notice.h"
#include "launcher/output.h"

std::string Narrow(TextView text) {
    std::string out;
    for (char16_t unit : text) {
        if (unit < 0x80) {
            out += static_cast<char>(unit);
        } else if (unit < 0x800) {
            out += static_cast<char>(0xC0 | (unit >> 6));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (unit >> 12));
            out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    return out;
}

Text Widen(const std::string& utf8) {
    Text text;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        unsigned char lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            text += static_cast<char16_t>(lead);
        } else if (lead < 0xE0 && i + 1 < utf8.size()) {
            text += static_cast<char16_t>(((lead & 0x1F) << 6) | (utf8[++i] & 0x3F));
        } else if (i + 2 < utf8.size()) {
            char16_t unit = static_cast<char16_t>((lead & 0x0F) << 12);
            unit |= static_cast<char16_t>((utf8[++i] & 0x3F) << 6);
            unit |= static_cast<char16_t>(utf8[++i] & 0x3F);
            text += unit;
        }
    }
    return text;
}

FakePlatform::FakePlatform() {
    UsePlatform(this);
    StdOut = OutputStream();
    AddFolder(u"C:\\G\\mods\\mymod");
    AddFolder(Paths().GameContentFolder());
    AddFile(Paths().GameProgram(), "the game");
}

FakePlatform::~FakePlatform() { UsePlatform(nullptr); }

Text FakePlatform::Resolve(const Text& path) const {
    const bool absolute = path.size() >= 2 && path[1] == u':';
    return OnDisk(Resolved(absolute ? path : base + path));
}

namespace {
bool SameIgnoringCase(TextView a, TextView b) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}
}  // namespace

Text FakePlatform::OnDisk(const Text& key) const {
    if (disk.names.count(key) || disk.folders.count(key)) return key;
    // Name by name from the drive: a folder's second name leads to the
    // folder, and a name in another case to the one on the disk.
    Text path;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= key.size(); ++i) {
        if (i != key.size() && key[i] != u'\\') continue;
        const Text name = key.substr(start, i - start);
        Text next = path.empty() ? name : path + u"\\" + name;
        start = i + 1;
        if (!path.empty() && !disk.folders.count(next) && !disk.names.count(next)) {
            for (const auto& [link, target] : disk.folderLinks) {
                if (SameIgnoringCase(link, next)) next = target;
            }
            for (const Text& folder : disk.folders) {
                if (SameIgnoringCase(folder, next)) next = folder;
            }
            for (const auto& [name, node] : disk.names) {
                if (SameIgnoringCase(name, next)) next = name;
            }
        }
        path = next;
    }
    return path;
}

bool FakePlatform::IsUnreadable(const Text& key, std::uint64_t upTo) const {
    const auto name = disk.names.find(key);
    if (name == disk.names.end()) return false;
    const auto locked = unreadableFrom.find(name->second);
    return locked != unreadableFrom.end() && upTo > locked->second;
}

void FakePlatform::MakeUnreadableFrom(const Text& path, std::uint64_t offset) {
    unreadableFrom[disk.names.at(Resolve(path))] = offset;
}

bool IsModsFile(const Text& key) {
    // mods\<folder>\Shaders_client.zip or mods\<folder>\Backup\Shaders_client.zip,
    // any folder but the game's own.
    const Text mods = u"\\mods\\";
    const std::size_t at = key.rfind(mods);
    if (at == Text::npos) return false;
    const Text rest = key.substr(at + mods.size());
    const std::size_t cut = rest.find(u'\\');
    if (cut == Text::npos || SameIgnoringCase(rest.substr(0, cut), GameLayout::kGameContentName))
        return false;
    const Text inFolder = rest.substr(cut + 1);
    return inFolder == kArchiveName || inFolder == Text(u"Backup\\") + kArchiveName;
}

bool FakePlatform::IsHoldingPlace(const Text& key) const {
    const GameLayout paths = Paths();
    if (key == Resolve(paths.GameArchiveBackup()) || key == Resolve(paths.CapturedArchive()) ||
        key == Resolve(paths.OldKeptVersion())) {
        return true;
    }
    const Text backupFolder = Resolve(paths.GameBackupFolder()) + u"\\";
    const Text keptPrefix = backupFolder + GameLayout::kKeptPrefix;
    const Text keptSuffix = GameLayout::kKeptSuffix;
    return key.compare(0, keptPrefix.size(), keptPrefix) == 0 && key.size() > keptSuffix.size() &&
           key.compare(key.size() - keptSuffix.size(), keptSuffix.size(), keptSuffix) == 0 &&
           key.find(u'\\', backupFolder.size()) == Text::npos;
}

Text Resolved(const Text& full) {
    // The drive, then each name; ".." climbs, "." and empty names vanish.
    std::vector<Text> names;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= full.size(); ++i) {
        if (i == full.size() || full[i] == u'\\') {
            names.push_back(full.substr(start, i - start));
            start = i + 1;
        }
    }
    Text key = names[0];
    std::vector<Text> kept;
    for (std::size_t i = 1; i < names.size(); ++i) {
        if (names[i].empty() || names[i] == u".") continue;
        if (names[i] == u"..") {
            if (!kept.empty()) kept.pop_back();
            continue;
        }
        kept.push_back(names[i]);
    }
    for (const Text& name : kept) key += u"\\" + name;
    return key;
}

Text FakePlatform::Relative(const Text& path) const {
    return path.compare(0, base.size(), base) == 0 ? path.substr(base.size()) : path;
}

std::string FakePlatform::Shown(const Text& path) const { return Narrow(Relative(path)); }

void FakePlatform::Call(const std::string& entry) {
    if (!throwBadAllocAt.empty() &&
        entry.compare(0, throwBadAllocAt.size(), throwBadAllocAt) == 0) {
        throw std::bad_alloc();
    }
    log.push_back(entry);
}

const FakeFile* FakeDisk::Find(const Text& key) const {
    auto name = names.find(key);
    return name == names.end() ? nullptr : &nodes.at(name->second).now;
}

FakeFile* FakeDisk::Find(const Text& key) {
    auto name = names.find(key);
    return name == names.end() ? nullptr : &nodes.at(name->second).now;
}

void FakeDisk::Write(const Text& key, const FakeFile& file) {
    auto name = names.find(key);
    if (name != names.end()) {
        nodes[name->second].now = file;
        return;
    }
    // A new file: on the disk it has no bytes yet.
    FakeFile empty = file;
    empty.bytes.clear();
    nodes[nextNode] = Node{file, empty};
    names[key] = nextNode;
    pending.push_back({{key, nextNode++}});
}

void FakeDisk::Settle(const Text& key, const FakeFile& file) {
    names.erase(key);
    durableNames.erase(key);
    nodes[nextNode] = Node{file, file};
    names[key] = nextNode;
    durableNames[key] = nextNode++;
}

void FakeDisk::Remove(const Text& key) {
    names.erase(key);
    pending.push_back({{key, 0}});
}

void FakeDisk::Move(const Text& from, const Text& to) {
    const int node = names.at(from);
    names[to] = node;
    names.erase(from);
    ++nodes.at(node).moves;
    pending.push_back({{from, 0}, {to, node}});
}

void FakeDisk::Flush(const Text& key) {
    Node& node = nodes.at(names.at(key));
    node.durable = node.now;
    Commit();
}

void FakeDisk::Commit() {
    durableNames = names;
    pending.clear();
}

void FakeDisk::WrittenThrough() {
    if (model == Model::WriteThrough) Commit();
}

namespace {
std::map<Text, int> NamesAfter(const std::map<Text, int>& durable,
                               const std::vector<FakeDisk::NameChange>& pending,
                               std::size_t prefix) {
    std::map<Text, int> names = durable;
    for (std::size_t i = 0; i < prefix && i < pending.size(); ++i) {
        for (const auto& [name, node] : pending[i]) {
            if (node == 0) {
                names.erase(name);
            } else {
                names[name] = node;
            }
        }
    }
    return names;
}
}  // namespace

FakeDisk FakeDisk::PowerCut(std::size_t prefix, int torn) const {
    FakeDisk cut = *this;
    cut.names = NamesAfter(durableNames, pending, prefix);
    cut.Commit();
    for (auto& [id, node] : cut.nodes) {
        if (id == torn) {
            node.now.bytes.resize(node.now.bytes.size() / 2);
        } else {
            node.now = node.durable;
        }
        node.durable = node.now;
    }
    return cut;
}

std::vector<int> FakeDisk::Unflushed(std::size_t prefix) const {
    std::vector<int> unflushed;
    for (const auto& [key, id] : NamesAfter(durableNames, pending, prefix)) {
        const Node& node = nodes.at(id);
        if (node.now.bytes != node.durable.bytes) unflushed.push_back(id);
    }
    return unflushed;
}

int FakeDisk::Copies(const std::string& bytes, const Text& except) const {
    int copies = 0;
    for (const auto& [key, id] : names) {
        if (key != except && !IsModsFile(key) && nodes.at(id).now.bytes == bytes) ++copies;
    }
    return copies;
}

void FakeDisk::ForgetIfGone(const std::string& bytes) {
    if (Copies(bytes) > 0) return;
    versions.erase(std::remove(versions.begin(), versions.end(), bytes), versions.end());
}

std::vector<CrashState> FakePlatform::PowerCutsNow(const std::string& when) const {
    std::vector<CrashState> states;
    const std::size_t prefixes = disk.model == FakeDisk::Model::Journal ? disk.pending.size() : 0;
    for (std::size_t prefix = 0; prefix <= prefixes; ++prefix) {
        const std::string cut = "power cut " + when +
                                (prefixes ? ", " + std::to_string(prefix) + " of " +
                                                std::to_string(prefixes) + " name changes kept"
                                          : std::string());
        states.push_back({cut, disk.PowerCut(prefix)});
        for (int torn : disk.Unflushed(prefix)) {
            states.push_back({cut + ", one file torn", disk.PowerCut(prefix, torn)});
        }
    }
    return states;
}

int FakePlatform::Change(const std::string& entry, const Text* copyFrom, const Text* copyTo) {
    const int at = changes++;
    changeLog.push_back(entry);
    if (at == otherAt && other && !(otherInsideCopy && copyFrom)) {
        const auto act = other;  // it may arm another act for later
        act(*this);
    }
    if (at != crashAt) return at;
    const std::string when = "before change " + std::to_string(crashAt) + " (" + entry + ")";
    crashes.push_back({"kill " + when, disk});
    const FakeFile* source = copyFrom ? disk.Find(Resolve(*copyFrom)) : nullptr;
    if (source && !source->bytes.empty()) {
        // Killed inside the copy: the target holds the first part of the
        // source, or that and zeros up to the full size.
        FakeFile part = *source;
        part.bytes.resize(source->bytes.size() / 2);
        part.lastWrite = ++clock;
        FakeDisk cutShort = disk;
        cutShort.Write(Resolve(*copyTo), part);
        crashes.push_back({"kill inside " + entry + ", its target cut short", cutShort});
        part.bytes.resize(source->bytes.size(), '\0');
        FakeDisk padded = disk;
        padded.Write(Resolve(*copyTo), part);
        crashes.push_back({"kill inside " + entry + ", its target's end zero", padded});
    }
    if (!killsOnly) {
        for (CrashState& state : PowerCutsNow(when)) crashes.push_back(std::move(state));
    }
    throw Crashed{};
}

void FakePlatform::Destroying(const Text& key, const Text& from) {
    const FakeFile* file = disk.Find(key);
    if (!file) return;
    // The gate looks at what it destroys just before the call.
    if (lookedAt_ != key) destroyed.push_back(log.back() + " goes around the gate");
    lookedAt_.clear();
    // A mod's files are the mod's: they hold no version of the game's archive.
    if (IsModsFile(key)) return;
    const auto& versions = disk.versions;
    if (std::find(versions.begin(), versions.end(), file->bytes) == versions.end()) return;
    // Held only by another file in a place no other program writes, or by
    // the rename's source: files, not names, so a second name is no copy.
    const int node = disk.names.at(key);
    const int source = from.empty() || !disk.names.count(from) ? 0 : disk.names.at(from);
    for (const auto& [name, id] : disk.names) {
        if (id == node || (id != source && !IsHoldingPlace(name))) continue;
        if (disk.nodes.at(id).now.bytes == file->bytes) return;
    }
    destroyed.push_back(log.back() + " destroys the last copy of " + file->bytes +
                        " in a place no other program writes");
}

bool FakePlatform::IsHeld(const Text& path) const { return heldOpen.count(Resolve(path)) != 0; }

void FakePlatform::UseDisk(const FakeDisk& other) {
    disk = other;
    // Time goes on: nothing this run writes has an earlier file's time.
    for (const auto& [id, node] : disk.nodes) clock = std::max(clock, node.now.lastWrite + 1000);
}

void FakePlatform::MarkSwapped() {
    Marker marker;
    marker.modFolder = base;
    FileStamp stamp;
    const GameLayout paths = Paths();
    if (ReadFileStamp(paths.GameArchiveBackup(), stamp)) marker.gameStamp = stamp;
    if (ReadFileStamp(paths.LiveArchive(), stamp)) marker.swappedIn = stamp;
    AddFile(paths.SwapMarker(), Narrow(MarkerText(marker)));
}

void FakePlatform::AddFolder(const Text& path) {
    Text key = Resolve(path);
    for (std::size_t i = 0; i <= key.size(); ++i) {
        if (i == key.size() || key[i] == u'\\') disk.folders.insert(key.substr(0, i));
    }
}

void FakePlatform::AddFile(const Text& path, const std::string& bytes, std::uint32_t attributes) {
    Text key = Resolve(path);
    AddFolder(key.substr(0, key.rfind(u'\\')));
    disk.Settle(key, FakeFile{bytes, attributes, ++clock});
}

bool FakePlatform::HasFile(const Text& path) const { return disk.Find(Resolve(path)) != nullptr; }

bool FakePlatform::HasFolder(const Text& path) const {
    return disk.folders.count(Resolve(path)) != 0;
}

std::string FakePlatform::Content(const Text& path) const {
    const FakeFile* found = disk.Find(Resolve(path));
    return found ? found->bytes : "<none>";
}

std::uint32_t FakePlatform::Attributes(const Text& path) const {
    return disk.Find(Resolve(path))->attributes;
}

std::uint32_t FakePlatform::CurrentDirectory(std::uint32_t length, char16_t* buffer) {
    Call("CurrentDirectory " + std::to_string(length));
    std::uint32_t size = static_cast<std::uint32_t>(currentDirectory.size());
    if (length <= size) return size + 1;  // the room it needs, with the zero
    currentDirectory.copy(buffer, size);
    buffer[size] = 0;
    return size;
}

const char16_t* FakePlatform::CommandLine() {
    Call("CommandLine");
    return commandLine.c_str();
}

Text FakePlatform::ProgramPath() { return programPath; }

std::vector<Text> FakePlatform::RunningProgramsNamed(const Text& fileName) {
    auto lower = [](TextView text) {
        Text lowered(text);
        for (char16_t& unit : lowered) {
            if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit + 32);
        }
        return lowered;
    };
    std::vector<Text> named;
    for (const Text& program : runningPrograms) {
        if (lower(LastName(program)) == lower(fileName)) named.push_back(program);
    }
    return named;
}

const char16_t* FakePlatform::NextChar(const char16_t* position) {
    return *position ? position + 1 : position;
}

AttributeQuery FakePlatform::FileAttributes(const Text& path) {
    Call("FileAttributes");
    log.pop_back();  // queries are too many to be worth listing
    auto queryError = attributeQueryErrors.find(Relative(path));
    if (queryError != attributeQueryErrors.end())
        return {OsResult{false, queryError->second}, kInvalidFileAttributes};
    Text key = Resolve(path);
    if (disk.folders.count(key)) return {OsResult{}, kAttributeDirectory};
    if (const FakeFile* found = disk.Find(key)) return {OsResult{}, found->attributes};
    const bool inAFolder = disk.folders.count(key.substr(0, key.rfind(u'\\'))) != 0;
    return {OsResult{false, inAFolder ? kErrorFileNotFound : kErrorPathNotFound},
            kInvalidFileAttributes};
}

OsResult FakePlatform::SetAttributes(const Text& path, std::uint32_t attributes) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(attributes));
    Call("attributes " + Shown(path) + " = " + hex);
    if (attributesKept.count(Relative(path))) return {false, kErrorAccessDenied};
    FakeFile* found = disk.Find(Resolve(path));
    if (!found) return {false, kErrorFileNotFound};
    found->attributes = attributes;
    return {};
}

AttributeQuery FakePlatform::FindEntry(const Text& path) {
    Call("find " + Shown(path));
    Text key = Resolve(path);
    AttributeQuery query;
    if (disk.folders.count(key)) {
        query.attributes = kAttributeDirectory;
    } else if (const FakeFile* found = disk.Find(key)) {
        query.attributes = found->attributes;
    } else {
        query.ok = false;
        query.error = kErrorFileNotFound;
    }
    return query;
}

OsResult FakePlatform::MakeFolder(const Text& path) {
    Call("mkdir " + Shown(path));
    auto scripted = folderErrors.find(Relative(path));
    if (scripted != folderErrors.end()) return {false, scripted->second};
    Text key = Resolve(path);
    if (disk.folders.count(key) || disk.Find(key)) return {false, 183};  // ERROR_ALREADY_EXISTS
    if (!disk.folders.count(key.substr(0, key.rfind(u'\\')))) return {false, kErrorPathNotFound};
    Change(log.back());
    disk.folders.insert(key);
    return {};
}

OsResult FakePlatform::CopyWholeFile(const Text& from, const Text& to) {
    Call("copy " + Shown(from) + " -> " + Shown(to));
    auto scripted = copyErrors.find(Relative(to));
    if (scripted != copyErrors.end() && !scripted->second.empty()) {
        std::uint32_t error = scripted->second.front();
        scripted->second.pop_front();
        if (error != 0) return {false, error};
    }
    const FakeFile* source = disk.Find(Resolve(from));
    if (!source) return {false, kErrorFileNotFound};
    if (IsUnreadable(Resolve(from), source->bytes.size())) return {false, kErrorLockViolation};
    Text target = Resolve(to);
    if (!disk.folders.count(target.substr(0, target.rfind(u'\\')))) {
        return {false, kErrorPathNotFound};
    }
    const FakeFile* existing = disk.Find(target);
    if (disk.folders.count(target) ||
        (existing && (existing->attributes & (kAttributeReadOnly | kAttributeHidden)))) {
        return {false, kErrorAccessDenied};
    }
    if (IsHeld(to)) return {false, kErrorSharingViolation};
    const int at = Change(log.back(), &from, &to);
    source = disk.Find(Resolve(from));  // another program may have been first
    if (!source) return {false, kErrorFileNotFound};
    const std::string before = source->bytes;
    FakeFile copied = *source;
    if (at == otherAt && otherInsideCopy && other) {
        const auto act = other;
        act(*this);
        // Read through the open handle: the new bytes from the middle on.
        const std::size_t half = before.size() / 2;
        copied = *source;
        copied.bytes = copyReadsAhead ? before
                                      : before.substr(0, half) + (source->bytes.size() > half
                                                                      ? source->bytes.substr(half)
                                                                      : std::string());
    }
    Destroying(target);
    // The target takes the source's attributes and last-write time too.
    disk.Write(target, copied);
    return {};
}

OsResult FakePlatform::FlushToDisk(const Text& path) {
    Call("flush " + Shown(path));
    if (flushFails.count(Relative(path))) return {false, 1117};  // ERROR_IO_DEVICE
    if (!disk.Find(Resolve(path))) return {false, kErrorFileNotFound};
    Change(log.back());
    if (!disk.Find(Resolve(path))) return {false, kErrorFileNotFound};  // another program was first
    disk.Flush(Resolve(path));
    return {};
}

OsResult FakePlatform::WriteNewFile(const Text& path, TextView content) {
    Call("write " + Shown(path));
    if (writeFails.count(Relative(path))) return {false, kErrorAccessDenied};
    Text key = Resolve(path);
    if (!disk.folders.count(key.substr(0, key.rfind(u'\\')))) return {false, kErrorPathNotFound};
    if (disk.folders.count(key)) return {false, kErrorAccessDenied};
    if (IsHeld(path)) return {false, kErrorSharingViolation};
    Change(log.back());
    Destroying(key);
    // Truncated first, then written and flushed: a kill between the two
    // leaves it empty.
    disk.Write(key, FakeFile{"", 0x20, ++clock});
    Change(log.back() + ", its bytes");
    disk.Write(key, FakeFile{Narrow(content), 0x20, clock});
    disk.Flush(key);
    return {};
}

OsResult FakePlatform::MoveOver(const Text& from, const Text& to) {
    Call("move " + Shown(from) + " -> " + Shown(to));
    return Rename(from, to, true);
}

OsResult FakePlatform::MoveToFreeName(const Text& from, const Text& to) {
    Call("move " + Shown(from) + " -> new " + Shown(to));
    return Rename(from, to, false);
}

OsResult FakePlatform::Rename(const Text& from, const Text& to, bool replace) {
    auto scripted = moveErrors.find(Relative(to));
    if (scripted != moveErrors.end() && !scripted->second.empty()) {
        std::uint32_t error = scripted->second.front();
        scripted->second.pop_front();
        if (error != 0) return {false, error};  // 0: this try goes through
    }
    const Text source = Resolve(from);
    const Text target = Resolve(to);
    if (!disk.Find(source)) return {false, kErrorFileNotFound};
    if (!disk.folders.count(target.substr(0, target.rfind(u'\\')))) {
        return {false, kErrorPathNotFound};
    }
    const FakeFile* existing = disk.Find(target);
    if (disk.folders.count(target)) return {false, kErrorAccessDenied};
    if (!replace && existing) return {false, kErrorAlreadyExists};
    if (existing && (existing->attributes & kAttributeReadOnly)) return {false, kErrorAccessDenied};
    if ((existing && IsHeld(to)) || IsHeld(from)) return {false, kErrorSharingViolation};
    const int at = Change(log.back());
    // Another program may have been first.
    if (!disk.Find(source)) return {false, kErrorFileNotFound};
    if (!replace && disk.Find(target)) return {false, kErrorAlreadyExists};
    Destroying(target, source);
    disk.Move(source, target);
    disk.WrittenThrough();
    if (at == lostReplyAt) return {false, lostReplyError};
    return {};
}

namespace {
// A name against a pattern with "*" and "?", case aside as the system does.
bool Matches(TextView name, TextView pattern) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    if (pattern.empty()) return name.empty();
    if (pattern[0] == u'*') {
        for (std::size_t skip = 0; skip <= name.size(); ++skip)
            if (Matches(name.substr(skip), pattern.substr(1))) return true;
        return false;
    }
    if (name.empty()) return false;
    if (pattern[0] != u'?' && lower(pattern[0]) != lower(name[0])) return false;
    return Matches(name.substr(1), pattern.substr(1));
}
}  // namespace

OsResult FakePlatform::ListFolder(const Text& pattern, std::vector<FolderEntry>& entries) {
    entries.clear();
    const Text full = Resolve(pattern);
    const std::size_t cut = full.rfind(u'\\');
    const Text folder = full.substr(0, cut);
    const Text wanted = full.substr(cut + 1);
    if (!disk.folders.count(folder)) return {false, kErrorPathNotFound};
    auto consider = [&](const Text& path, bool isFolder) {
        if (path.size() <= folder.size() + 1 ||
            path.compare(0, folder.size() + 1, folder + u"\\") != 0)
            return;
        const Text name = path.substr(folder.size() + 1);
        if (name.find(u'\\') != Text::npos || !Matches(name, wanted)) return;
        entries.push_back({name, isFolder});
    };
    for (const Text& path : disk.folders) consider(path, true);
    for (const auto& [link, target] : disk.folderLinks) consider(link, true);
    for (const auto& [path, node] : disk.names) consider(path, false);
    return {};
}

OsResult FakePlatform::ReadSmallFile(const Text& path, Text& text) {
    const FakeFile* found = disk.Find(Resolve(path));
    if (!found) return {false, kErrorFileNotFound};
    if (IsUnreadable(Resolve(path), found->bytes.size())) return {false, kErrorLockViolation};
    text = Widen(found->bytes);
    return {};
}

OsResult FakePlatform::ReadPart(const Text& path, std::uint64_t offset, std::uint32_t count,
                                std::string& bytes) {
    ++partsRead;
    const FakeFile* found = disk.Find(Resolve(path));
    if (!found) return {false, kErrorFileNotFound};
    if (IsUnreadable(Resolve(path), std::min<std::uint64_t>(offset + count, found->bytes.size())))
        return {false, kErrorLockViolation};
    bytes = offset < found->bytes.size() ? found->bytes.substr(offset, count) : std::string();
    return {};
}

OsResult FakePlatform::RemoveFile(const Text& path) {
    Call("remove " + Shown(path));
    Text key = Resolve(path);
    if (!disk.Find(key)) return {false, kErrorFileNotFound};
    if (IsHeld(path)) return {false, kErrorSharingViolation};
    Change(log.back());
    if (!disk.Find(key)) return {false, kErrorFileNotFound};  // another program was first
    Destroying(key);
    disk.Remove(key);
    return {};
}

OsResult FakePlatform::MakeNewFile(const Text& path) {
    Call("make " + Shown(path));
    const Text key = Resolve(path);
    if (!disk.folders.count(key.substr(0, key.rfind(u'\\')))) return {false, kErrorPathNotFound};
    if (disk.folders.count(key) || disk.Find(key)) return {false, kErrorFileExists};
    Change(log.back());
    if (disk.Find(key)) return {false, kErrorFileExists};  // another program was first
    disk.Write(key, FakeFile{"", 0x20, ++clock});
    return {};
}

// Not a change the enumerations die before: it moves nothing but the
// file's times, and a kill there leaves what a kill at the next change does.
// Setting a time moves the change time, even to the time the file has.
OsResult FakePlatform::SetLastWriteTime(const Text& path, std::uint64_t time) {
    Call("set time " + Shown(path));
    const auto name = disk.names.find(Resolve(path));
    if (name == disk.names.end()) return {false, kErrorFileNotFound};
    if (IsHeld(path)) return {false, kErrorSharingViolation};
    FakeDisk::Node& node = disk.nodes.at(name->second);
    node.now.lastWrite = time;
    node.StampChange(ChangeTimeNow());
    return {};
}

OsResult FakePlatform::ReadFileStamp(const Text& path, FileStamp& stamp) {
    const FakeFile* found = disk.Find(Resolve(path));
    if (!found) return {false, kErrorFileNotFound};
    stamp = {found->bytes.size(), found->lastWrite};
    return {};
}

OsResult FakePlatform::ReadFileIdentity(const Text& path, FileIdentity& identity) {
    const Text key = Resolve(path);
    lookedAt_ = key;
    const auto name = disk.names.find(key);
    if (name == disk.names.end()) return {false, kErrorFileNotFound};
    identity = {1, static_cast<std::uint64_t>(name->second)};
    return {};
}

OsResult FakePlatform::ReadFileLook(const Text& path, FileLook& look) {
    if (OsResult read = ReadFileStamp(path, look.stamp); !read) return read;
    if (OsResult read = ReadFileIdentity(path, look.identity); !read) return read;
    std::uint64_t& changeTime = look.changeTime;
    const auto name = disk.names.find(Resolve(path));
    if (name == disk.names.end()) return {false, kErrorFileNotFound};
    FakeDisk::Node& node = disk.nodes.at(name->second);
    if (node.changeTime == 0 || node.now != node.changeSeen || node.moves != node.movesSeen) {
        node.StampChange(ChangeTimeNow());
    }
    const Text key = name->first;
    const bool followsLastWrite =
        changeTimeFollowsLastWrite.count(key.substr(0, key.rfind(u'\\'))) != 0;
    changeTime = noChangeTimes ? 0 : followsLastWrite ? node.now.lastWrite : node.changeTime;
    return {};
}

OsResult FakePlatform::KeepWritersOut(const Text& path, OsHandle& handle) {
    const Text key = Resolve(path);
    const auto name = disk.names.find(key);
    if (name == disk.names.end()) return {false, kErrorFileNotFound};
    if (IsHeld(key)) return {false, kErrorSharingViolation};
    handle = nextHold_++;
    writersKeptOut_[handle] = name->second;
    return {};
}

void FakePlatform::LetWritersIn(OsHandle handle) { writersKeptOut_.erase(handle); }

std::uint64_t FakePlatform::SystemTime() {
    constexpr std::uint64_t kYear2022 = 132854688000000000;
    return kYear2022 + clock + paused;
}

std::uint64_t FakePlatform::ChangeTimeNow() {
    ++clock;
    return (SystemTime() - fileClockBehind) / changeTimeTick * changeTimeTick;
}

void FakePlatform::WroteKeepingItsStamp(const Text& path, const std::string& bytes) {
    FakeFile* file = disk.Find(Resolve(path));
    file->bytes = bytes;
    disk.nodes.at(disk.names.at(Resolve(path))).StampChange(ChangeTimeNow());
}

bool FakePlatform::IsKeptFromWriters(const Text& path) const {
    const auto name = disk.names.find(Resolve(path));
    if (name == disk.names.end()) return false;
    for (const auto& [handle, node] : writersKeptOut_) {
        if (node == name->second) return true;
    }
    return false;
}

bool FakePlatform::IsSameFolder(const Text& one, const Text& other) {
    return disk.folders.count(Resolve(one)) && Resolve(one) == Resolve(other);
}

OsResult FakePlatform::HoldLockFile(const Text& path) {
    Call("lock " + Shown(path));
    if (lockError) return {false, lockError};
    Text key = Resolve(path);
    if (!disk.folders.count(key.substr(0, key.rfind(u'\\')))) return {false, kErrorPathNotFound};
    Change(log.back());
    lockHeld = true;
    return {};
}

Text FakePlatform::FullPath(const Text& path) { return Resolve(path); }

Text FakePlatform::ErrorText(std::uint32_t error) {
    switch (error) {
        case kErrorAccessDenied:
            return u"Access is denied.";
        case kErrorDiskFull:
            return u"There is not enough space on the disk.";
        case kErrorSharingViolation:
            return u"The process cannot access the file because it is being used by another "
                   u"process.";
        case kErrorBadExeFormat:
            return u"%1 is not a valid Win32 application.";
        case kErrorPathNotFound:
            return u"The system cannot find the path specified.";
    }
    const std::string digits = std::to_string(error);
    return u"Error " + Text(digits.begin(), digits.end());
}

void FakePlatform::Pause(std::uint32_t milliseconds) {
    Call("pause " + std::to_string(milliseconds));
    paused += std::uint64_t{milliseconds} * 10000;
}

OsHandle FakePlatform::AppWindow() {
    Call("AppWindow");
    log.pop_back();
    return appWindow;
}

OsResult FakePlatform::StartGame(const LaunchRequest& request) {
    Call("start");
    startedOwner = request.ownerWindow;
    startedFile = request.file;
    startedParameters = request.parameters;
    startedDirectory = request.directory;
    liveArchiveAtStart = Content(Paths().LiveArchive());
    if (!startSucceeds) return {false, startError};
    Change(log.back());
    if (duringGame) duringGame(*this);
    return {};
}

bool FakePlatform::GameHasEnded() {
    Call("poll");
    return ++polls_ == endAfterPolls;
}

void FakePlatform::ProcessMessages() {
    Call("pump");
    if (++pumps_ == terminateAfterPumps) terminated_ = true;
}

bool FakePlatform::Terminated() { return terminated_; }

void FakePlatform::AwaitGameOrMessage() { Call("await"); }

bool FakePlatform::ShowMessage(MessageKind kind, const Text& text) {
    Call("box");
    if (boxFails) return false;
    boxes.push_back((kind == MessageKind::Warning ? "warning: " : "error: ") + Narrow(text));
    return true;
}

OsHandle FakePlatform::StdOutput() {
    Call("StdOutput");
    return stdOutput;
}

std::uint32_t FakePlatform::FileType(OsHandle handle) {
    bool usable = handle == stdOutput && handle != 0 && handle != kInvalidHandle;
    return usable ? stdOutputType : kFileTypeUnknown;
}

void FakePlatform::CloseOsHandle(OsHandle) { Call("close-handle"); }

OsResult FakePlatform::WriteBytes(OsHandle, const char* bytes, std::uint32_t count) {
    Call("WriteFile " + std::to_string(count));
    if (writeError) return {false, writeError};
    writes.emplace_back(bytes, count);
    return {};
}

bool FakePlatform::IsConsole(OsHandle handle) { return stdOutputIsConsole && handle == stdOutput; }

OsResult FakePlatform::WriteConsoleText(OsHandle, const char16_t* units, std::uint32_t count) {
    Call("WriteConsoleW " + std::to_string(count));
    if (writeError) return {false, writeError};
    consoleWrites.emplace_back(units, count);
    writes.push_back(Narrow(consoleWrites.back()));
    return {};
}

std::string FakePlatform::ToAnsi(TextView text) {
    Call("ToAnsi");
    log.pop_back();
    std::string bytes;
    for (char16_t unit : text) bytes += unit < 0x80 ? static_cast<char>(unit) : '?';
    return bytes;
}

void FakePlatform::EndProcess(std::uint32_t exitCode) {
    log.push_back("exit " + std::to_string(exitCode));
    throw ProcessEnded{exitCode};
}
