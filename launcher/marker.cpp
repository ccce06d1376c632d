// The marker's text, written and read.
#include "launcher/marker.h"

#include <cstdint>

namespace {

Text StampText(const FileStamp& stamp) {
    return DecimalText(stamp.size) + u" " + DecimalText(stamp.lastWrite);
}

// A decimal number of at most 19 digits (all fit in 64 bits), and nothing
// else; nothing when the text is not that.
std::optional<std::uint64_t> ReadNumber(TextView text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    std::uint64_t number = 0;
    for (char16_t unit : text) {
        if (unit < u'0' || unit > u'9') return std::nullopt;
        number = number * 10 + static_cast<std::uint64_t>(unit - u'0');
    }
    return number;
}

// Two decimal numbers, one space between, and nothing else.
std::optional<FileStamp> ReadStamp(TextView text) {
    const std::size_t space = text.find(u' ');
    if (space == TextView::npos) return std::nullopt;
    const std::optional<std::uint64_t> size = ReadNumber(text.substr(0, space));
    const std::optional<std::uint64_t> lastWrite = ReadNumber(text.substr(space + 1));
    if (!size || !lastWrite) return std::nullopt;
    return FileStamp{*size, *lastWrite};
}

}  // namespace

Text MarkerText(const Marker& marker) {
    Text text = marker.modFolder + u"\r\n";
    if (!marker.gameHadArchive) {
        text += u"game none";
    } else if (marker.gameStamp) {
        text += u"game " + StampText(*marker.gameStamp);
    } else {
        text += u"game unknown";
    }
    text += u"\r\n";
    text += u"swapping";
    if (marker.swappedIn) text += u" " + StampText(*marker.swappedIn);
    return text + u"\r\n";
}

Marker ReadMarker(TextView text) {
    Marker marker;
    std::size_t line = 0;
    while (!text.empty()) {
        const std::size_t end = text.find(u'\n');
        TextView content = text.substr(0, end);
        if (!content.empty() && content.back() == u'\r') content.remove_suffix(1);
        text = end == TextView::npos ? TextView() : text.substr(end + 1);
        if (line++ == 0) {
            marker.modFolder = Text(content);
        } else if (content == u"game none") {
            marker.gameHadArchive = false;
        } else if (content.substr(0, 5) == u"game ") {
            marker.gameStamp = ReadStamp(content.substr(5));
        } else if (content.substr(0, 8) == u"swapped ") {  // the release before this one
            marker.swappedIn = ReadStamp(content.substr(8));
        } else if (content.substr(0, 9) == u"swapping ") {
            marker.swappedIn = ReadStamp(content.substr(9));
        }
    }
    return marker;
}
