#include "app/setlist.h"

#include <cstdio>
#include <cstring>

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// The start of the path's last part.
const char* lastPart(const char* path) {
    const char* part = path;
    for (const char* p = path; *p; ++p)
        if (isSeparator(*p) || *p == ':') part = p + 1;
    return part;
}

}  // namespace

void setListFolder(const char* path, char* out, size_t size) {
    if (size == 0) return;
    const size_t n = static_cast<size_t>(lastPart(path) - path);
    std::snprintf(out, size, "%.*s", static_cast<int>(n), path);
}

namespace {

// The first `length` characters of a path that need not be terminated.
bool absolute(const char* path, size_t length) {
    if (length >= 1 && isSeparator(path[0])) return true;  // a root or a share
    return length >= 2 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':';
}

}  // namespace

bool setListPathIsAbsolute(const char* path) { return absolute(path, std::strlen(path)); }

int32_t setListParse(const char* text, size_t size, const char* listPath, FileExistsFn exists, SetList& out) {
    out.faultLine = 0;
    if (size > kSetListMaxBytes) return kResultSetListDamaged;
    char folder[kSetListPathMax + 1];
    setListFolder(listPath, folder, sizeof folder);
    // Built aside: a refused list leaves the one in use untouched.
    static SetList read;
    read = SetList{};
    size_t pos = 0;
    int line = 0;
    while (pos < size) {
        ++line;
        size_t end = pos;
        while (end < size && text[end] != '\n') ++end;
        size_t last = end;
        if (last > pos && text[last - 1] == '\r') --last;
        for (size_t i = pos; i < last; ++i) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            if (c < 0x20 && c != '\t') {
                out.faultLine = line;
                return kResultSetListDamaged;
            }
        }
        while (pos < last && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
        while (last > pos && (text[last - 1] == ' ' || text[last - 1] == '\t')) --last;
        const size_t length = last - pos;
        if (length > 0 && text[pos] != '#') {
            if (read.count == kSetListMaxSongs) {
                out.faultLine = line;
                return kResultSetListTooLong;
            }
            const bool whole = absolute(text + pos, length);
            const size_t prefix = whole ? 0 : std::strlen(folder);
            if (length > kSetListPathMax || prefix + length > kSetListPathMax) {
                out.faultLine = line;
                return kResultSetListDamaged;
            }
            char* song = read.songs[read.count];
            std::snprintf(song, kSetListPathMax + 1, "%s%.*s", whole ? "" : folder, static_cast<int>(length),
                          text + pos);
            if (exists && !exists(song)) {
                out.faultLine = line;
                return kResultSetListMissingSong;
            }
            ++read.count;
        }
        pos = end + 1;
    }
    if (read.count == 0) return kResultSetListEmpty;
    std::snprintf(read.path, sizeof read.path, "%s", listPath);
    out = read;
    return 0;
}

size_t setListFormat(const SetList& list, const char* listPath, char* out, size_t size) {
    char folder[kSetListPathMax + 1];
    setListFolder(listPath, folder, sizeof folder);
    const size_t folderLength = std::strlen(folder);
    size_t used = 0;
    for (int i = 0; i < list.count; ++i) {
        const char* song = list.songs[i];
        // Case matters not on the platform's file names.
        bool inside = folderLength > 0 && std::strlen(song) > folderLength;
        for (size_t k = 0; inside && k < folderLength; ++k) {
            char a = song[k], b = folder[k];
            if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
            if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
            if (isSeparator(a) && isSeparator(b)) continue;
            inside = a == b;
        }
        const char* written = inside ? song + folderLength : song;
        const int n = std::snprintf(out + used, size - used, "%s\r\n", written);
        if (n < 0 || static_cast<size_t>(n) >= size - used) return 0;
        used += static_cast<size_t>(n);
    }
    return used;
}

int setListNext(const SetList& list) { return list.current + 1 < list.count ? list.current + 1 : -1; }

int setListPrevious(const SetList& list) {
    return list.current > 0 && list.current <= list.count ? list.current - 1 : -1;
}

int setListSelect(const SetList& list, int number) { return number >= 0 && number < list.count ? number : -1; }

void setListSongTitle(const SetList& list, int index, char* out, size_t size) {
    if (size == 0) return;
    out[0] = '\0';
    if (index < 0 || index >= list.count) return;
    const char* name = lastPart(list.songs[index]);
    const char* dot = std::strrchr(name, '.');
    const int length = static_cast<int>(dot && dot != name ? dot - name : std::strlen(name));
    std::snprintf(out, size, "%d. %.*s", index + 1, length, name);
}
