#include "fake_platform.h"

#include <cstdio>
#include <new>

#include "launcher/notice.h"
#include "launcher/report.h"
#include "launcher/sequence.h"

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

FakePlatform::FakePlatform() {
    UsePlatform(this);
    BaseFolder.clear();
    ForwardedArgs.clear();
    GameExePath.clear();
    GameExitCode = 0;
    PlayerWarned = false;
    StdOut = OutputStream();
    AddFolder(u"C:\\G\\mods\\mymod");
    AddFolder(u"C:\\G\\mods\\bf2");  // what "..\\bf2" reaches from the mod
    AddFile(u"C:\\G\\BF2.exe", "the game");
}

FakePlatform::~FakePlatform() { UsePlatform(nullptr); }

Text FakePlatform::Resolve(const Text& path) const {
    bool absolute = path.size() >= 2 && path[1] == u':';
    Text full = absolute ? path : base + path;
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

void FakePlatform::AddFolder(const Text& path) {
    Text key = Resolve(path);
    for (std::size_t i = 0; i <= key.size(); ++i) {
        if (i == key.size() || key[i] == u'\\') folders_.insert(key.substr(0, i));
    }
}

void FakePlatform::AddFile(const Text& path, const std::string& bytes, std::uint32_t attributes) {
    Text key = Resolve(path);
    AddFolder(key.substr(0, key.rfind(u'\\')));
    files_[key] = FakeFile{bytes, attributes, ++clock};
}

bool FakePlatform::HasFile(const Text& path) const { return files_.count(Resolve(path)) != 0; }

bool FakePlatform::HasFolder(const Text& path) const { return folders_.count(Resolve(path)) != 0; }

std::string FakePlatform::Content(const Text& path) const {
    auto found = files_.find(Resolve(path));
    return found == files_.end() ? "<none>" : found->second.bytes;
}

std::uint32_t FakePlatform::Attributes(const Text& path) const {
    return files_.at(Resolve(path)).attributes;
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

const char16_t* FakePlatform::NextChar(const char16_t* position) {
    return *position ? position + 1 : position;
}

AttributeQuery FakePlatform::FileAttributes(const Text& path) {
    Call("FileAttributes");
    log.pop_back();  // queries are too many to be worth listing
    auto queryError = attributeQueryErrors.find(Relative(path));
    if (queryError != attributeQueryErrors.end())
        return {kInvalidFileAttributes, queryError->second};
    Text key = Resolve(path);
    if (folders_.count(key)) return {kAttributeDirectory, 0};
    auto found = files_.find(key);
    if (found != files_.end()) return {found->second.attributes, 0};
    return {kInvalidFileAttributes, folders_.count(key.substr(0, key.rfind(u'\\')))
                                        ? kErrorFileNotFound
                                        : kErrorPathNotFound};
}

bool FakePlatform::SetAttributes(const Text& path, std::uint32_t attributes) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(attributes));
    Call("attributes " + Shown(path) + " = " + hex);
    if (attributesKept.count(Relative(path))) return false;
    auto found = files_.find(Resolve(path));
    if (found == files_.end()) return false;
    found->second.attributes = attributes;
    return true;
}

bool FakePlatform::FindEntry(const Text& path, std::uint32_t& attributes) {
    Call("find " + Shown(path));
    Text key = Resolve(path);
    if (folders_.count(key)) {
        attributes = kAttributeDirectory;
        return true;
    }
    auto found = files_.find(key);
    if (found == files_.end()) return false;
    attributes = found->second.attributes;
    return true;
}

OsResult FakePlatform::MakeFolder(const Text& path) {
    Call("mkdir " + Shown(path));
    auto scripted = folderErrors.find(Relative(path));
    if (scripted != folderErrors.end()) return {false, scripted->second};
    Text key = Resolve(path);
    if (folders_.count(key) || files_.count(key)) return {false, 183};  // ERROR_ALREADY_EXISTS
    if (!folders_.count(key.substr(0, key.rfind(u'\\')))) return {false, kErrorPathNotFound};
    folders_.insert(key);
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
    auto source = files_.find(Resolve(from));
    if (source == files_.end()) return {false, kErrorFileNotFound};
    Text target = Resolve(to);
    if (!folders_.count(target.substr(0, target.rfind(u'\\')))) return {false, kErrorPathNotFound};
    auto existing = files_.find(target);
    if (folders_.count(target) ||
        (existing != files_.end() &&
         (existing->second.attributes & (kAttributeReadOnly | kAttributeHidden)))) {
        return {false, kErrorAccessDenied};
    }
    // The target takes the source's attributes and last-write time too.
    files_[target] = source->second;
    return {};
}

OsResult FakePlatform::FlushToDisk(const Text& path) {
    Call("flush " + Shown(path));
    if (flushFails.count(Relative(path))) return {false, 1117};  // ERROR_IO_DEVICE
    if (!files_.count(Resolve(path))) return {false, kErrorFileNotFound};
    return {};
}

OsResult FakePlatform::WriteNewFile(const Text& path, TextView content) {
    Call("write " + Shown(path));
    if (writeFails.count(Relative(path))) return {false, kErrorAccessDenied};
    Text key = Resolve(path);
    if (!folders_.count(key.substr(0, key.rfind(u'\\')))) return {false, kErrorPathNotFound};
    if (folders_.count(key)) return {false, kErrorAccessDenied};  // a folder in the way
    files_[key] = FakeFile{Narrow(content), 0x20, ++clock};
    return {};
}

bool FakePlatform::ReadSmallFile(const Text& path, std::string& bytes) {
    auto found = files_.find(Resolve(path));
    if (found == files_.end()) return false;
    bytes = found->second.bytes;
    return true;
}

bool FakePlatform::RemoveFile(const Text& path) {
    Call("remove " + Shown(path));
    return files_.erase(Resolve(path)) != 0;
}

bool FakePlatform::ReadFileStamp(const Text& path, FileStamp& stamp) {
    auto found = files_.find(Resolve(path));
    if (found == files_.end()) return false;
    stamp = {found->second.bytes.size(), found->second.lastWrite};
    return true;
}

bool FakePlatform::IsSameFolder(const Text& a, const Text& b) {
    return folders_.count(Resolve(a)) && Resolve(a) == Resolve(b);
}

OsResult FakePlatform::HoldLockFile(const Text& path) {
    Call("lock " + Shown(path));
    if (lockError) return {false, lockError};
    Text key = Resolve(path);
    if (!folders_.count(key.substr(0, key.rfind(u'\\')))) return {false, kErrorPathNotFound};
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
    liveArchiveAtStart = Content(u"..\\bf2\\Shaders_client.zip");
    if (!startSucceeds) return {false, startError};
    return {};
}

bool FakePlatform::PollGameExitCode(std::uint32_t& exitCode) {
    Call("poll");
    ++polls_;
    if (exitCodes.empty()) return false;
    exitCode = lastPolled_ = exitCodes.front();
    if (exitCodes.size() > 1) exitCodes.pop_front();
    return true;
}

bool FakePlatform::GameHasEnded() {
    return exitCodes.empty() || lastPolled_ != kStillActive || polls_ == endAfterPolls;
}

void FakePlatform::ProcessMessages() {
    Call("pump");
    if (++pumps_ == terminateAfterPumps) terminated_ = true;
}

bool FakePlatform::Terminated() { return terminated_; }

void FakePlatform::AwaitGameOrMessage() { Call("await"); }

void FakePlatform::ShowMessage(MessageKind kind, const Text& text) {
    Call("box");
    boxes.push_back((kind == MessageKind::Warning ? "warning: " : "error: ") + Narrow(text));
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

std::string FakePlatform::ToAnsi(TextView text) {
    Call("ToAnsi");
    log.pop_back();
    std::string bytes;
    for (char16_t unit : text) bytes += unit < 0x80 ? static_cast<char>(unit) : '?';
    return bytes;
}

void FakePlatform::TeardownShell() { Call("teardown"); }

void FakePlatform::EndProcess(std::uint32_t exitCode) {
    log.push_back("exit " + std::to_string(exitCode));
    throw ProcessEnded{exitCode};
}
