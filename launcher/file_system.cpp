// The file questions every step asks, and making a folder exist.
#include "launcher/file_system.h"

#include "launcher/failure.h"
#include "launcher/platform.h"

OsResult ForceFolder(const Text& path) {
    if (path.empty()) throw InOutError(3, u"Unable to create directory", CALLER_ADDRESS());
    Text folder = path;
    if (folder.back() == u'\\') folder.pop_back();
    if (folder.size() < 3) return {};  // a bare drive, say: counts as present
    if (IsExistingFolder(folder)) return {};
    if (folder.back() == u'\\' || folder.back() == u':') return {};  // its own parent
    std::size_t cut = folder.find_last_of(u"\\:");
    Text parent = cut == Text::npos ? Text() : folder.substr(0, cut + 1);
    if (OsResult made = ForceFolder(parent); !made) return made;
    return Files().MakeFolder(folder);
}

bool IsExistingFolder(const Text& path) {
    std::uint32_t attributes = Files().FileAttributes(path).attributes;
    return attributes != kInvalidFileAttributes && (attributes & kAttributeDirectory);
}

bool IsExistingFile(const Text& path) {
    AttributeQuery query = Files().FileAttributes(path);
    if (query.attributes != kInvalidFileAttributes)
        return !(query.attributes & kAttributeDirectory);
    if (query.error == kErrorFileNotFound || query.error == kErrorPathNotFound ||
        query.error == kErrorInvalidName) {
        return false;
    }
    // Some entries answer a search but not an attribute query.
    const AttributeQuery found = Files().FindEntry(path);
    return found && !(found.attributes & kAttributeDirectory);
}
