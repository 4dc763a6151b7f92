// The platform services on Windows, through the wide-character Win32 API, whose names and paths
// are UTF-16 already.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32_names.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 text is UTF-16");

const char16_t PATH_SEPARATOR[] = u"\\";
const char16_t COMPONENT_SEPARATORS[] = u"\\/";
const char16_t ENTRY_PATH_FORMAT[] = u"%s\\%s";
const char16_t LISTING_PATTERN_FORMAT[] = u"%s\\*.*";

namespace {

// What LISTING_PATTERN_FORMAT adds after the directory: a backslash and "*.*".
constexpr std::size_t PATTERN_SUFFIX_UNITS = 4;

// Bytes for any message that fits a path buffer, however it encodes in UTF-8.
constexpr std::size_t MESSAGE_BYTES = PATH_UNITS * 3;

const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

bool is_dot_or_dot_dot(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Copies the record's name and directory bit into *entry; false for "." and "..", which are
// never listed. A link to a directory (junction, directory symbolic link) carries the directory
// bit, so it is renamed like a directory; listing_first refuses to enter it.
bool take_entry(const WIN32_FIND_DATAW& record, DirEntry* entry) {
    if (is_dot_or_dot_dot(record.cFileName)) {
        return false;
    }
    std::size_t units = 0;
    while (units < PATH_UNITS && record.cFileName[units] != L'\0') {
        entry->name[units] = static_cast<char16_t>(record.cFileName[units]);
        ++units;
    }
    if (units == PATH_UNITS) {
        return false;  // unterminated: never taken in part
    }
    entry->name[units] = u'\0';
    entry->is_directory = (record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

// Opens the directory a listing is about to read so that, until the handle is closed, it can be
// neither renamed nor removed (no FILE_SHARE_DELETE): the path then names this same directory
// from the check below to the end of the listing. Under LinkPolicy::refuse a link is opened
// itself, never its target, and refused: it has FILE_ATTRIBUTE_REPARSE_POINT. So is a last
// component that Win32 would strip to another name. Returns INVALID_HANDLE_VALUE when the
// directory must not or cannot be listed.
HANDLE hold_directory(const char16_t* pattern, LinkPolicy links) {
    const std::size_t pattern_units = text_length(pattern);
    if (pattern_units < PATTERN_SUFFIX_UNITS) {
        return INVALID_HANDLE_VALUE;
    }
    PathBuffer directory;
    std::size_t units = pattern_units - PATTERN_SUFFIX_UNITS;
    // "" and "C:" name the root only with their backslash ("\", "C:\"); so may a share.
    if (links == LinkPolicy::follow || units == 0 || pattern[units - 1] == u':') {
        ++units;
    }
    for (std::size_t i = 0; i < units; ++i) {
        directory[i] = pattern[i];
    }
    directory[units] = u'\0';
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;  // needed to open a directory at all
    if (links == LinkPolicy::refuse) {
        flags |= FILE_FLAG_OPEN_REPARSE_POINT;
        if (has_stripped_ending(last_component(directory))) {
            return INVALID_HANDLE_VALUE;
        }
    }
    const HANDLE held =
        CreateFileW(wide(directory), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        return held;
    }
    // Asked by path once the directory is held, since not every file system reports a link's
    // reparse point through the handle.
    const DWORD attributes = GetFileAttributesW(wide(directory));
    const bool refused =
        attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (links == LinkPolicy::refuse && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
    if (refused) {
        CloseHandle(held);
        return INVALID_HANDLE_VALUE;
    }
    return held;
}

// True when a move between these paths would act on the entries they spell: no reserved device
// name as the target and no last component whose ending Win32 would strip.
bool names_entries_exactly(const char16_t* old_path, const char16_t* new_path) {
    const char16_t* new_name = last_component(new_path);
    return !is_reserved_device_name(new_name) && !has_stripped_ending(new_name) &&
           !has_stripped_ending(last_component(old_path));
}

// True when a move of old_path would rename the entry itself. A link qualifies only when the file
// system opens it as itself when asked to: Wine, for one, opens a Unix symbolic link's target
// even then, and its MoveFileExW would carry the target, from wherever it is, into the tree.
bool moves_entry_itself(const char16_t* old_path) {
    const DWORD attributes = GetFileAttributesW(wide(old_path));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return true;
    }
    const HANDLE link =
        CreateFileW(wide(old_path), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (link == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION opened;
    const bool is_link_itself = GetFileInformationByHandle(link, &opened) &&
                                (opened.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    CloseHandle(link);
    return is_link_itself;
}

bool write_all(HANDLE output, const char* bytes, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        DWORD written = 0;
        if (!WriteFile(output, bytes + done, static_cast<DWORD>(length - done), &written,
                       nullptr) ||
            written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

}  // namespace

bool listing_first(const char16_t* pattern, LinkPolicy links, DirListing* listing,
                   DirEntry* entry) {
    const HANDLE held = hold_directory(pattern, links);
    if (held == INVALID_HANDLE_VALUE) {
        return false;
    }
    WIN32_FIND_DATAW record;
    const HANDLE find = FindFirstFileW(wide(pattern), &record);
    if (find == INVALID_HANDLE_VALUE) {
        CloseHandle(held);
        return false;
    }
    listing->handle = find;
    listing->guard = held;
    if (take_entry(record, entry) || listing_next(listing, entry)) {
        return true;
    }
    listing_close(listing);
    return false;
}

bool listing_next(DirListing* listing, DirEntry* entry) {
    WIN32_FIND_DATAW record;
    while (FindNextFileW(static_cast<HANDLE>(listing->handle), &record)) {
        if (take_entry(record, entry)) {
            return true;
        }
    }
    return false;
}

void listing_close(DirListing* listing) {
    FindClose(static_cast<HANDLE>(listing->handle));
    CloseHandle(static_cast<HANDLE>(listing->guard));
    listing->handle = nullptr;
    listing->guard = nullptr;
}

bool move_without_replacing(const char16_t* old_path, const char16_t* new_path) {
    // No flags: MoveFileExW then neither replaces an existing entry nor copies across volumes.
    return names_entries_exactly(old_path, new_path) && moves_entry_itself(old_path) &&
           MoveFileExW(wide(old_path), wide(new_path), 0) != 0;
}

bool is_directory(const char16_t* path) {
    const DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool console_write(const char16_t* text, std::size_t units) {
    // Fetched for every message, as standard output may be changed under a running process.
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == INVALID_HANDLE_VALUE || output == nullptr || units >= PATH_UNITS) {
        return false;
    }
    DWORD mode = 0;
    if (GetConsoleMode(output, &mode)) {
        std::size_t done = 0;
        while (done < units) {
            DWORD written = 0;
            if (!WriteConsoleW(output, wide(text) + done, static_cast<DWORD>(units - done),
                               &written, nullptr) ||
                written == 0) {
                return false;
            }
            done += written;
        }
        return true;
    }
    // A file or a pipe: WriteConsoleW would fail there, so the text goes out as UTF-8. A lone
    // surrogate, which UTF-8 cannot hold, is written as U+FFFD.
    if (units == 0) {
        return true;
    }
    char bytes[MESSAGE_BYTES];
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide(text), static_cast<int>(units), bytes,
                                           sizeof bytes, nullptr, nullptr);
    return length > 0 && write_all(output, bytes, static_cast<std::size_t>(length));
}

bool console_flush() {
    return true;  // every line is written as it comes
}
