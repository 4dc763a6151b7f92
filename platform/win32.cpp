// The file-system services on Windows, through the wide-character Win32 API, whose names and paths
// are UTF-16 already. Every directory the walk lists is held open without FILE_SHARE_DELETE until
// it is closed, so the paths through which Win32 reaches its entries keep naming the same ones.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32_names.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 text is UTF-16");

const char16_t COMPONENT_SEPARATORS[] = u"\\/";
const char16_t ENTRY_PATH_FORMAT[] = u"%s\\%s";

namespace {

// Room for a path the system is given: the root as typed, whose trailing separators the lines
// leave out, and a name per level below it.
constexpr std::size_t SYSTEM_PATH_UNITS = 2 * PATH_UNITS;

}  // namespace

// An open directory: its handle, which holds it in place, and its path. While the handle holds
// the directory, its path names this same directory, and so does every path composed from it;
// the listing reads its records through the handle, so it needs no pattern after the path.
struct Directory {
    HANDLE handle;
    char16_t path[SYSTEM_PATH_UNITS];
    DWORD next_record;  // offset in records of the next record to read
    bool records_left;  // records holds records from next_record on
    alignas(LONGLONG) unsigned char records[32 * 1024];
};

namespace {

const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

bool is_dot_or_dot_dot(const char16_t* name) {
    return name[0] == u'.' && (name[1] == u'\0' || (name[1] == u'.' && name[2] == u'\0'));
}

// Composes the path through which the system reaches `name` in the directory at dir_path.
bool compose_path(const char16_t* dir_path, const char16_t* name,
                  char16_t (&path)[SYSTEM_PATH_UNITS]) {
    const std::size_t length = text_length(dir_path);
    const bool ends_in_separator =
        length > 0 && (dir_path[length - 1] == u'\\' || dir_path[length - 1] == u'/');
    return format_text(path, ends_in_separator ? u"%s%s" : u"%s\\%s", dir_path, name);
}

// Copies a record's name and kind into *entry; false for "." and "..", which are never listed,
// and for a name too long for a path buffer. A link to a directory (junction, directory symbolic
// link) carries the directory bit, so it is renamed like a directory; open_directory refuses to
// enter it.
bool take_entry(const FILE_ID_BOTH_DIR_INFO& record, DirEntry* entry) {
    const std::size_t units = record.FileNameLength / sizeof(WCHAR);
    if (units >= PATH_UNITS) {
        return false;
    }
    for (std::size_t i = 0; i < units; ++i) {
        entry->name[i] = static_cast<char16_t>(record.FileName[i]);
    }
    entry->name[units] = u'\0';
    if ((record.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        entry->kind = EntryKind::directory;
    } else if ((record.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        entry->kind = EntryKind::link;
    } else {
        entry->kind = EntryKind::other;
    }
    return !is_dot_or_dot_dot(entry->name);
}

// What the last Win32 error tells the walk.
Outcome last_outcome() {
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DIRECTORY:
            return Outcome::gone;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS:
            return Outcome::name_taken;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return Outcome::no_permission;
        case ERROR_FILENAME_EXCED_RANGE:
            return Outcome::path_too_long;
        case ERROR_INVALID_NAME:
            return Outcome::reserved_name;
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_FUNCTION:
            return Outcome::not_supported;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return Outcome::no_space;
        case ERROR_NOT_SAME_DEVICE:
            return Outcome::other_file_system;
        case ERROR_TOO_MANY_OPEN_FILES:
            return Outcome::too_many_open_files;
        default:
            return Outcome::failed;
    }
}

// Narrows an outcome of opening a directory to those open_directory returns.
Outcome open_outcome(Outcome outcome) {
    switch (outcome) {
        case Outcome::name_taken:
        case Outcome::not_supported:
        case Outcome::no_space:
        case Outcome::other_file_system:
            return Outcome::failed;
        default:
            return outcome;
    }
}

// Opens the directory at path so that, until the handle is closed, it can be neither renamed nor
// removed (no FILE_SHARE_DELETE). Under LinkPolicy::refuse a link is opened itself, never its
// target, and refused: it has FILE_ATTRIBUTE_REPARSE_POINT.
Outcome hold_directory(const char16_t* path, LinkPolicy links, Directory** opened) {
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;  // needed to open a directory at all
    if (links == LinkPolicy::refuse) {
        flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    }
    const HANDLE held =
        CreateFileW(wide(path), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        return open_outcome(last_outcome());
    }
    // Asked by path once the directory is held, since not every file system reports a link's
    // reparse point through the handle.
    const DWORD attributes = GetFileAttributesW(wide(path));
    Outcome outcome = Outcome::done;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        outcome = Outcome::gone;
    } else if (links == LinkPolicy::refuse && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        outcome = Outcome::link;
    }
    auto* dir = outcome != Outcome::done
                    ? nullptr
                    : static_cast<Directory*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Directory)));
    if (dir != nullptr && format_text(dir->path, u"%s", path)) {
        dir->handle = held;
        dir->records_left = false;
        *opened = dir;
        return Outcome::done;
    }
    if (dir != nullptr) {
        HeapFree(GetProcessHeap(), 0, dir);
    }
    CloseHandle(held);
    return outcome == Outcome::done ? Outcome::failed : outcome;
}

// True when name holds a colon, which Win32 reads as a drive or a stream.
bool names_stream(const char16_t* name) {
    for (const char16_t* unit = name; *unit != u'\0'; ++unit) {
        if (*unit == u':') {
            return true;
        }
    }
    return false;
}

// True when a move between these names would act on the entries they spell: no stream, no
// reserved device name as the target, and no ending that Win32 would strip.
bool names_entries_exactly(const char16_t* old_name, const char16_t* new_name) {
    return !names_stream(old_name) && !names_stream(new_name) &&
           !is_reserved_device_name(new_name) && !has_stripped_ending(new_name) &&
           !has_stripped_ending(old_name);
}

// Done when a move of old_path would rename the entry itself. A link qualifies only when the file
// system opens it as itself when asked to: Wine, for one, opens a Unix symbolic link's target
// even then, and its MoveFileExW would carry the target, from wherever it is, into the tree.
Outcome moves_entry_itself(const char16_t* old_path) {
    const DWORD attributes = GetFileAttributesW(wide(old_path));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return last_outcome();
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return Outcome::done;
    }
    const HANDLE link =
        CreateFileW(wide(old_path), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (link == INVALID_HANDLE_VALUE) {
        return last_outcome();
    }
    BY_HANDLE_FILE_INFORMATION opened;
    const bool is_link_itself = GetFileInformationByHandle(link, &opened) &&
                                (opened.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    CloseHandle(link);
    return is_link_itself ? Outcome::done : Outcome::not_supported;
}

}  // namespace

// Every directory is opened alike here, for listing: `use` asks for no less.
Outcome open_directory_path(const char16_t* path, DirectoryUse /*use*/, Directory** opened) {
    // "" is the current directory. A drive alone is its root, as the paths composed from it read
    // ("C:" and "\\name" make "C:\\name"), so that the entries listed are the entries moved.
    const char16_t drive_root[] = {path[0], u':', u'\\', u'\0'};
    const char16_t* held = path;
    if (path[0] == u'\0') {
        held = u".";
    } else if (path[1] == u':' && path[2] == u'\0') {
        held = drive_root;
    }
    const Outcome outcome = hold_directory(held, LinkPolicy::follow, opened);
    return outcome == Outcome::link || outcome == Outcome::reserved_name ? Outcome::failed
                                                                         : outcome;
}

Outcome open_directory(Directory* parent, const char16_t* name, LinkPolicy links,
                       Directory** opened) {
    char16_t path[SYSTEM_PATH_UNITS];
    if (has_stripped_ending(name) || names_stream(name)) {
        return Outcome::reserved_name;
    }
    if (!compose_path(parent->path, name, path)) {
        return Outcome::path_too_long;
    }
    return hold_directory(path, links, opened);
}

Listing read_entry(Directory* dir, DirEntry* entry) {
    for (;;) {
        if (!dir->records_left) {
            if (!GetFileInformationByHandleEx(dir->handle, FileIdBothDirectoryInfo, dir->records,
                                              sizeof dir->records)) {
                return GetLastError() == ERROR_NO_MORE_FILES ? Listing::end : Listing::failed;
            }
            dir->next_record = 0;
            dir->records_left = true;
        }
        const auto& record =
            *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(dir->records + dir->next_record);
        dir->records_left = record.NextEntryOffset != 0;
        dir->next_record += record.NextEntryOffset;
        if (take_entry(record, entry)) {
            return Listing::entry;
        }
    }
}

void close_directory(Directory* dir) {
    CloseHandle(dir->handle);
    HeapFree(GetProcessHeap(), 0, dir);
}

// MoveFileExW never replaces on every file system Windows has, whatever the entry's kind.
Outcome move_without_replacing(Directory* dir, const char16_t* old_name, const char16_t* new_name,
                               EntryKind /*kind*/) {
    char16_t old_path[SYSTEM_PATH_UNITS];
    char16_t new_path[SYSTEM_PATH_UNITS];
    if (!names_entries_exactly(old_name, new_name)) {
        return Outcome::reserved_name;
    }
    if (!compose_path(dir->path, old_name, old_path) ||
        !compose_path(dir->path, new_name, new_path)) {
        return Outcome::path_too_long;
    }
    const Outcome itself = moves_entry_itself(old_path);
    if (itself != Outcome::done) {
        return itself;
    }
    // No flags: MoveFileExW then neither replaces an existing entry nor copies across volumes.
    return MoveFileExW(wide(old_path), wide(new_path), 0) ? Outcome::done : last_outcome();
}

// Windows names are UTF-16 already; a lone surrogate in one is kept as it stands.
bool is_text_name(const char16_t* /*name*/) {
    return true;
}

bool is_directory(const char16_t* path) {
    const DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
