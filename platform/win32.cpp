// The file-system services on Windows, through handles and the NT calls of ntdll, whose names are
// UTF-16 already. Only the root and the directory that holds it are opened by a path, resolved
// once to its \\?\ form; below it, each directory is opened relative to its held parent and listed
// through its handle, and each entry is renamed through a handle opened relative to its directory,
// by bare names alone. So no Win32 path rule (device names, stripped endings, MAX_PATH, the
// current directory) applies below the root, and a held directory keeps its entries in place.
#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <cstdint>

#include "platform/listing.h"
#include "platform/platform.h"
#include "platform/win32_names.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 text is UTF-16");

// mingw-w64 declares every other NT call used here in winternl.h.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PIO_APC_ROUTINE apc,
                                               PVOID apc_context, PIO_STATUS_BLOCK io, PVOID buffer,
                                               ULONG length,
                                               FILE_INFORMATION_CLASS information_class,
                                               BOOLEAN single_entry, PUNICODE_STRING pattern,
                                               BOOLEAN restart);

const char16_t COMPONENT_SEPARATORS[] = u"\\/";
const char16_t ENTRY_PATH_FORMAT[] = u"%s\\%s";
const char16_t DRIVE_SEPARATOR = u':';

namespace {

// Room for the root's full path: the current directory may be long, whatever the root as typed.
constexpr std::size_t SYSTEM_PATH_UNITS = 4 * PATH_UNITS;

// A directory walked is listed and searched; one held only to reach the root in it, searched.
constexpr ACCESS_MASK WALK_ACCESS =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ACCESS_MASK REACH_ACCESS = FILE_TRAVERSE | SYNCHRONIZE;
// No FILE_SHARE_DELETE: while held, a directory can be neither renamed nor removed.
constexpr ULONG HOLD_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr ULONG ANY_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

constexpr NTSTATUS ACCESS_DENIED = static_cast<NTSTATUS>(0xC0000022);

}  // namespace

// An open directory: its handle, a buffer of the records its listing has read, and the
// directories moved within it meanwhile.
struct Directory {
    HANDLE handle;
    bool holds_root;    // opened by open_root_parent, to reach the root alone, which may be a link
    bool lists_again;   // its file system may list a directory moved within it once more
    bool queried;       // the listing has been asked once: an empty answer ends it no more
    bool records_left;  // records holds records from next_record on
    ULONG next_record;
    MovedDirectories moved;
    alignas(LONGLONG) unsigned char records[64 * 1024];
};

namespace {

const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

Outcome outcome_of(NTSTATUS status) {
    return outcome_of_status(static_cast<std::uint32_t>(status));
}

// `name` relative to the directory `dir` (the absolute NT path `name` when dir is nullptr; the
// directory itself when name is empty), in any letter case, as Win32 reads names.
struct RelativeName {
    UNICODE_STRING counted;
    OBJECT_ATTRIBUTES attributes;

    RelativeName(HANDLE dir, const char16_t* name) {
        const auto bytes = static_cast<USHORT>(text_length(name) * sizeof(char16_t));
        counted = {bytes, bytes, const_cast<PWSTR>(wide(name))};
        InitializeObjectAttributes(&attributes, &counted, OBJ_CASE_INSENSITIVE, dir, nullptr);
    }
};

NTSTATUS open_relative(HANDLE dir, const char16_t* name, ACCESS_MASK access, ULONG sharing,
                       ULONG options, HANDLE* opened) {
    RelativeName relative(dir, name);
    IO_STATUS_BLOCK io;
    return NtOpenFile(opened, access, &relative.attributes, &io, sharing,
                      options | FILE_SYNCHRONOUS_IO_NONALERT);
}

bool query(HANDLE handle, void* information, ULONG length, FILE_INFORMATION_CLASS kind) {
    IO_STATUS_BLOCK io;
    return NT_SUCCESS(NtQueryInformationFile(handle, &io, information, length, kind));
}

// The path, within its volume, of the file a handle was opened on (FileNameInformation).
struct Named {
    FILE_NAME_INFORMATION information;
    WCHAR rest[SYSTEM_PATH_UNITS];
    std::size_t units = 0;
    bool read(HANDLE handle) {
        units = query(handle, this, sizeof information + sizeof rest, FileNameInformation)
                    ? information.FileNameLength / sizeof(WCHAR)
                    : 0;
        return units > 0;
    }
    const char16_t* text() const { return reinterpret_cast<const char16_t*>(information.FileName); }
};

// True when `entry` was opened as `name` of `parent` itself, not through a link to elsewhere:
// the path each handle was opened on, within its volume, says so. False when either cannot be
// read.
bool opened_in(HANDLE entry, HANDLE parent, const char16_t* name) {
    Named entry_name;
    Named parent_name;
    return entry_name.read(entry) && parent_name.read(parent) &&
           is_entry_of(entry_name.text(), entry_name.units, parent_name.text(), parent_name.units,
                       name);
}

// Opens the directory at path, resolved once as Win32 resolves it, through its \\?\ form: a long
// current directory, a \\?\ root and a share are all opened alike. Links are followed.
Outcome open_by_path(const char16_t* path, ACCESS_MASK access, HANDLE* opened) {
    wchar_t full[SYSTEM_PATH_UNITS];
    const DWORD units =
        GetFullPathNameW(path[0] == u'\0' ? L"." : wide(path), SYSTEM_PATH_UNITS, full, nullptr);
    if (units == 0 || units >= SYSTEM_PATH_UNITS) {
        return units == 0 ? Outcome::gone : Outcome::path_too_long;
    }
    // \\?\X and \\.\X are \??\X in the NT namespace, and \\server\share is \??\UNC\server\share.
    const auto* resolved = reinterpret_cast<const char16_t*>(full);
    const bool prefixed = resolved[0] == u'\\' && resolved[1] == u'\\' &&
                          (resolved[2] == u'?' || resolved[2] == u'.') && resolved[3] == u'\\';
    char16_t nt_path[SYSTEM_PATH_UNITS + 8];
    const bool fit = prefixed ? format_text(nt_path, u"\\??\\%s", resolved + 4)
                     : resolved[0] == u'\\' && resolved[1] == u'\\'
                         ? format_text(nt_path, u"\\??\\UNC\\%s", resolved + 2)
                         : format_text(nt_path, u"\\??\\%s", resolved);
    if (!fit) {
        return Outcome::path_too_long;
    }
    const NTSTATUS status =
        open_relative(nullptr, nt_path, access, HOLD_SHARING,
                      FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT, opened);
    return NT_SUCCESS(status) ? Outcome::done
                              : narrow_outcome(outcome_of(status), OPEN_ROOT_OUTCOMES);
}

// False where the volume lists a directory in the order of its names (NTFS): a Latin name sorts
// before the Cyrillic one the listing has reached, so an entry moved is never met again there.
bool may_list_again(HANDLE handle) {
    alignas(FILE_FS_ATTRIBUTE_INFORMATION) unsigned char
        buffer[sizeof(FILE_FS_ATTRIBUTE_INFORMATION) + 32 * sizeof(WCHAR)];
    auto* volume = reinterpret_cast<FILE_FS_ATTRIBUTE_INFORMATION*>(buffer);
    IO_STATUS_BLOCK io;
    return !NT_SUCCESS(NtQueryVolumeInformationFile(handle, &io, volume, sizeof buffer,
                                                    FileFsAttributeInformation)) ||
           volume->FileSystemNameLength != 4 * sizeof(WCHAR) ||
           RtlCompareMemory(volume->FileSystemName, L"NTFS", 4 * sizeof(WCHAR)) !=
               4 * sizeof(WCHAR);
}

// Takes an open directory handle into a Directory of its own; closes it when there is no room.
Outcome hold(HANDLE handle, bool holds_root, bool lists_again, Directory** opened) {
    auto* dir = static_cast<Directory*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Directory)));
    if (dir == nullptr) {
        NtClose(handle);
        return Outcome::failed;
    }
    dir->handle = handle;
    dir->holds_root = holds_root;
    dir->lists_again = lists_again;
    dir->queried = dir->records_left = false;
    dir->moved = MovedDirectories{};
    *opened = dir;
    return Outcome::done;
}

// Copies a record's name and kind into *entry, unless the listing rules pass it over. A reparse
// point's tag stands in the record's EaSize.
bool take_entry(const Directory* dir, const FILE_ID_FULL_DIR_INFORMATION& record, DirEntry* entry) {
    const std::size_t units = record.FileNameLength / sizeof(WCHAR);
    const bool fits = units < PATH_UNITS;
    for (std::size_t i = 0; fits && i < units; ++i) {
        entry->name[i] = static_cast<char16_t>(record.FileName[i]);
    }
    entry->name[fits ? units : 0] = u'\0';
    const auto id = static_cast<std::uint64_t>(record.FileId.QuadPart);
    if (!is_walked_entry(dir->moved, id, entry->name, fits, dir->lists_again)) {
        return false;
    }
    if ((record.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        is_link_reparse_tag(record.EaSize)) {
        entry->kind = EntryKind::link;
    } else if ((record.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        entry->kind = EntryKind::directory;
    } else {
        entry->kind = EntryKind::other;
    }
    return true;
}

// True when name holds a colon, which the system reads as a stream.
bool names_stream(const char16_t* name) {
    for (const char16_t* unit = name; *unit != u'\0'; ++unit) {
        if (*unit == u':') {
            return true;
        }
    }
    return false;
}

// Done when the open directory `handle`, opened as a reparse point itself, is to be walked: it
// is none, or one that a filter serves (a cloud folder), which is then opened again without
// FILE_OPEN_REPARSE_POINT, as the filter expects. A link is refused.
Outcome served_directory(HANDLE* handle) {
    FILE_ATTRIBUTE_TAG_INFORMATION tag;
    if (!query(*handle, &tag, sizeof tag, FileAttributeTagInformation)) {
        return Outcome::failed;
    }
    if ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return Outcome::gone;
    }
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return Outcome::done;
    }
    if (is_link_reparse_tag(tag.ReparseTag)) {
        return Outcome::link;
    }
    HANDLE served = nullptr;
    const NTSTATUS status =
        open_relative(*handle, u"", WALK_ACCESS, HOLD_SHARING,
                      FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT, &served);
    if (!NT_SUCCESS(status)) {
        return outcome_of(status);
    }
    NtClose(*handle);
    *handle = served;
    return Outcome::done;
}

// The rename of a directory was denied after the directory itself was opened for it: the
// system refuses so while something below it is open, unless dir does not let entries be added.
Outcome denied_directory_rename(Directory* dir) {
    HANDLE adding = nullptr;
    if (!NT_SUCCESS(open_relative(dir->handle, u"", FILE_ADD_SUBDIRECTORY | SYNCHRONIZE,
                                  ANY_SHARING, FILE_DIRECTORY_FILE, &adding))) {
        return Outcome::no_permission;
    }
    NtClose(adding);
    return Outcome::in_use;
}

// Renames the open entry to the bare new_name in dir; the system refuses a taken name with
// STATUS_OBJECT_NAME_COLLISION.
NTSTATUS rename_within(HANDLE entry, Directory* dir, const char16_t* new_name) {
    const std::size_t bytes = text_length(new_name) * sizeof(char16_t);
    alignas(FILE_RENAME_INFORMATION) unsigned char
        buffer[sizeof(FILE_RENAME_INFORMATION) + PATH_UNITS * sizeof(char16_t)];
    auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer);
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = dir->handle;
    rename->FileNameLength = static_cast<ULONG>(bytes);
    CopyMemory(rename->FileName, new_name, bytes);
    // Wine takes no less than the whole structure, even for a name of one unit.
    const std::size_t length = offsetof(FILE_RENAME_INFORMATION, FileName) + bytes;
    IO_STATUS_BLOCK io;
    return NtSetInformationFile(
        entry, &io, rename, static_cast<ULONG>(length < sizeof *rename ? sizeof *rename : length),
        FileRenameInformation);
}

// The name of the entry `entry` opened in `parent`, as the volume stores it: the last component of
// the path the system gives the handle, when that path is one component in the parent's. False,
// with `stored` untouched, where it cannot be read, or the system followed a link to elsewhere.
bool stored_name_of(HANDLE entry, HANDLE parent, PathBuffer& stored) {
    Named entry_name;
    Named parent_name;
    if (!entry_name.read(entry) || !parent_name.read(parent)) {
        return false;
    }
    std::size_t start = entry_name.units;
    while (start > 0 && entry_name.text()[start - 1] != u'\\') {
        --start;
    }
    PathBuffer name;
    const std::size_t units = entry_name.units - start;
    for (std::size_t i = 0; i < units && i < PATH_UNITS; ++i) {
        name[i] = entry_name.text()[start + i];
    }
    if (units >= PATH_UNITS) {
        return false;
    }
    name[units] = u'\0';
    return is_entry_of(entry_name.text(), entry_name.units, parent_name.text(), parent_name.units,
                       name) &&
           format_text(stored, u"%s", name);
}

}  // namespace

Outcome open_root_parent(const char16_t* path, Directory** opened) {
    HANDLE handle = nullptr;
    const Outcome outcome = open_by_path(path, REACH_ACCESS, &handle);
    return outcome == Outcome::done ? hold(handle, true, false, opened) : outcome;
}

Outcome open_root_path(const char16_t* path, Directory** opened) {
    HANDLE handle = nullptr;
    const Outcome outcome = open_by_path(path, WALK_ACCESS, &handle);
    return outcome == Outcome::done ? hold(handle, false, may_list_again(handle), opened) : outcome;
}

// The root is opened as Win32 would read its typed name, so a name Win32 would strip the end of
// is not opened here, but by its path.
bool stored_root_name(Directory* parent, const char16_t* typed, PathBuffer& stored) {
    // Win32 drops a last component's trailing dots and spaces; the typed root was opened so.
    PathBuffer name;
    format_text(name, u"%s", typed);
    for (std::size_t end = text_length(name); end > 0 && has_stripped_ending(name); --end) {
        name[end - 1] = u'\0';
    }
    HANDLE entry = nullptr;
    if (names_stream(name) ||
        !NT_SUCCESS(open_relative(parent->handle, name, FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                  ANY_SHARING, FILE_OPEN_REPARSE_POINT, &entry))) {
        return false;
    }
    PathBuffer found;
    const bool told = stored_name_of(entry, parent->handle, found) && may_read_as(typed, found) &&
                      format_text(stored, u"%s", found);
    NtClose(entry);
    return told;
}

Outcome open_root(Directory* parent, const char16_t* name, Directory** opened) {
    if (names_stream(name) || has_stripped_ending(name)) {
        return Outcome::reserved_name;
    }
    HANDLE handle = nullptr;
    const NTSTATUS status =
        open_relative(parent->handle, name, WALK_ACCESS, HOLD_SHARING,
                      FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT, &handle);
    if (!NT_SUCCESS(status)) {
        return narrow_outcome(outcome_of(status), OPEN_ROOT_OUTCOMES);
    }
    return hold(handle, false, may_list_again(handle), opened);
}

Outcome open_directory(Directory* parent, const char16_t* name, Directory** opened) {
    if (names_stream(name)) {
        return Outcome::reserved_name;
    }
    HANDLE handle = nullptr;
    const NTSTATUS status = open_relative(
        parent->handle, name, WALK_ACCESS, HOLD_SHARING,
        FILE_DIRECTORY_FILE | FILE_OPEN_FOR_BACKUP_INTENT | FILE_OPEN_REPARSE_POINT, &handle);
    if (!NT_SUCCESS(status)) {
        return narrow_outcome(outcome_of(status), OPEN_OUTCOMES);
    }
    const Outcome served = served_directory(&handle);
    if (served != Outcome::done) {
        NtClose(handle);
        return narrow_outcome(served, OPEN_OUTCOMES);
    }
    // Below the root the walk never leaves its volume: a volume mount point is a link.
    return hold(handle, false, parent->lists_again, opened);
}

Listing read_entry(Directory* dir, DirEntry* entry) {
    for (;;) {
        if (!dir->records_left) {
            IO_STATUS_BLOCK io;
            const NTSTATUS status = NtQueryDirectoryFile(
                dir->handle, nullptr, nullptr, nullptr, &io, dir->records, sizeof dir->records,
                FileIdFullDirectoryInformation, FALSE, nullptr, FALSE);
            const bool first_query = !dir->queried;
            dir->queried = true;
            if (!NT_SUCCESS(status) || io.Information == 0) {
                return NT_SUCCESS(status) ||
                               listing_has_ended(static_cast<std::uint32_t>(status), first_query)
                           ? Listing::end
                           : Listing::failed;
            }
            dir->next_record = 0;
            dir->records_left = true;
        }
        const auto& record =
            *reinterpret_cast<const FILE_ID_FULL_DIR_INFORMATION*>(dir->records + dir->next_record);
        dir->records_left = record.NextEntryOffset != 0;
        dir->next_record += record.NextEntryOffset;
        if (take_entry(dir, record, entry)) {
            return Listing::entry;
        }
    }
}

void close_directory(Directory* dir) {
    NtClose(dir->handle);
    forget_moved(&dir->moved);
    HeapFree(GetProcessHeap(), 0, dir);
}

// One rename by handle, which never replaces and never copies on any file system Windows has.
// A name the system would read as a stream, or as a device, or with its end stripped, once Win32
// meets it, is never made. A link is renamed only when the system opens it as itself: Wine, for
// one, opens a Unix link's target even then, and would carry the target into the tree.
Outcome move_without_replacing(Directory* dir, const char16_t* old_name, const char16_t* new_name,
                               EntryKind kind, Leftover* left) {
    *left = Leftover::none;  // one call, which either renames or changes nothing
    if (names_stream(old_name) || names_stream(new_name) || is_reserved_device_name(new_name) ||
        has_stripped_ending(new_name)) {
        return Outcome::reserved_name;
    }
    const ACCESS_MASK access =
        DELETE | SYNCHRONIZE | (kind == EntryKind::other ? 0 : FILE_READ_ATTRIBUTES);
    HANDLE entry = nullptr;
    NTSTATUS status =
        open_relative(dir->handle, old_name, access, ANY_SHARING, FILE_OPEN_REPARSE_POINT, &entry);
    if (!NT_SUCCESS(status)) {
        return narrow_outcome(outcome_of(status), MOVE_OUTCOMES);
    }
    // The root was not listed: it is a link unless the handle opened is the entry in its parent,
    // as both handles say. No lookup by name is asked, which Wine resolves against the working
    // directory; and Wine opens a Unix link's target even here.
    const bool link =
        kind == EntryKind::link || (dir->holds_root && !opened_in(entry, dir->handle, old_name));
    FILE_ATTRIBUTE_TAG_INFORMATION tag;
    Outcome moved = Outcome::done;
    if (link && (!query(entry, &tag, sizeof tag, FileAttributeTagInformation) ||
                 (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)) {
        moved = Outcome::not_supported;
    } else if (!NT_SUCCESS(status = rename_within(entry, dir, new_name))) {
        moved = status == ACCESS_DENIED && kind == EntryKind::directory
                    ? denied_directory_rename(dir)
                    : narrow_outcome(outcome_of(status), MOVE_OUTCOMES);
    } else if (kind == EntryKind::directory && dir->lists_again) {
        FILE_INTERNAL_INFORMATION id;
        if (query(entry, &id, sizeof id, FileInternalInformation)) {
            note_moved(&dir->moved, static_cast<std::uint64_t>(id.IndexNumber.QuadPart), new_name);
        }
    }
    NtClose(entry);
    return moved;
}

// A rename by handle is one call, which leaves nothing to mark.
void clear_move_note(Directory* /*dir*/) {}

// Windows names are UTF-16 already; a lone surrogate in one is kept as it stands.
bool is_text_name(const char16_t* /*name*/) {
    return true;
}

bool is_directory(const char16_t* path) {
    HANDLE handle = nullptr;
    if (path[0] == u'\0' || names_device(path) ||
        open_by_path(path, FILE_READ_ATTRIBUTES | SYNCHRONIZE, &handle) != Outcome::done) {
        return false;
    }
    NtClose(handle);
    return true;
}
