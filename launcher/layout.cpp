#include "launcher/layout.h"

#include "launcher/platform.h"

Text ReadWorkingFolder() {
    // 260 characters and the zero suffice for most folders; a deeper one is
    // read whole with the room the platform says it needs.
    std::u16string buffer(261, u'\0');
    for (;;) {
        std::uint32_t needed =
            Inputs().CurrentDirectory(static_cast<std::uint32_t>(buffer.size()), buffer.data());
        if (needed <= buffer.size()) break;
        buffer.assign(needed, u'\0');
    }
    Text folder = buffer.substr(0, buffer.find(u'\0'));  // up to the first zero unit
    folder += u'\\';
    return folder;
}

TextView LastName(TextView path) {
    if (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
    const std::size_t cut = path.rfind(u'\\');
    return cut == TextView::npos ? path : path.substr(cut + 1);
}
