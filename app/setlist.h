// Set lists: an ordered list of performance files kept as a small text
// file (*.qvs), one path per line, relative paths taken from the list's
// folder. Parsing, writing and moving through the songs are platform-free;
// the set list window and the song switch use them.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int32_t kResultSetListCannotOpen = 280;   // "The set list can't be opened"
constexpr int32_t kResultSetListDamaged = 281;      // a line too long, or not text
constexpr int32_t kResultSetListTooLong = 282;      // more songs than kSetListMaxSongs
constexpr int32_t kResultSetListMissingSong = 283;  // a listed file does not exist
constexpr int32_t kResultSetListCannotSave = 284;
constexpr int32_t kResultSetListEmpty = 289;        // no song in the list

constexpr int kSetListMaxSongs = 128;
constexpr size_t kSetListPathMax = 259;  // characters of a resolved path
constexpr size_t kSetListMaxBytes = kSetListMaxSongs * (kSetListPathMax + 2) + 1024;

struct SetList {
    char path[kSetListPathMax + 1] = "";  // the list's own file, "" when unsaved
    char songs[kSetListMaxSongs][kSetListPathMax + 1] = {};
    int count = 0;
    int current = -1;  // the song playing, -1 before the first
    // The line of the last refusal (1-based), 0 when none, for the window.
    int faultLine = 0;
};

// Whether a path names a file; the window passes the platform's check,
// tests their own.
using FileExistsFn = bool (*)(const char* path);

// The folder part of `path` including its last separator ("" when none).
void setListFolder(const char* path, char* out, size_t size);
bool setListPathIsAbsolute(const char* path);

// Reads a list file's bytes. Lines end with LF or CR LF; blank lines and
// lines starting with '#' are skipped; spaces around a path are not part
// of it. Refused with a result code, and nothing taken, for: more than
// kSetListMaxBytes bytes, a NUL or other control character, a line whose
// resolved path is longer than kSetListPathMax, more than kSetListMaxSongs
// songs, a song that does not exist (`exists` null: not checked), and a
// list with no song. `listPath` is the file the bytes came from.
int32_t setListParse(const char* text, size_t size, const char* listPath, FileExistsFn exists, SetList& out);

// The file's text: songs inside the list's folder are written relative to
// it, others as they are. Returns the bytes written (0 when `size` is too small).
size_t setListFormat(const SetList& list, const char* listPath, char* out, size_t size);

// Moving through the list: the song that next, previous or program change
// `number` (0-based) selects, or -1 when there is none (the ends do not wrap).
int setListNext(const SetList& list);
int setListPrevious(const SetList& list);
int setListSelect(const SetList& list, int number);

// What the window shows in large type: "3. Name" for the song at `index`
// (its file name without folder and extension), "" when there is none.
void setListSongTitle(const SetList& list, int index, char* out, size_t size);
