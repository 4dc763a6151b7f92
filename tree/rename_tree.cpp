// The walk: list a directory, rename its entries, descend, and last rename the root itself.
// Entries are reached through the open directory that holds them and their bare names. The full
// paths composed here are the text of the lines, each in a fixed buffer and checked: an entry
// whose path does not fit is left as is, and said so.
#include "tree/rename_tree.h"

#include "console/console.h"
#include "latinize/latinize.h"
#include "platform/output.h"
#include "platform/platform.h"

namespace {

constexpr char16_t FILE_RENAMED[] = u"rename file from %s to %s\n";
constexpr char16_t DIRECTORY_RENAMED[] = u"rename directory from %s to %s\n";
constexpr char16_t LEFT_AS_IS[] = u"left as is, %s: %s\n";
constexpr char16_t NOT_LISTED[] = u"not listed, %s: %s\n";
constexpr char16_t LEFT_BEHIND[] = u"left behind, %s: %s\n";

// A directory's path, a separator and a name: room for the path of any entry listed, shown even
// when it is too long to act on.
using EntryPathBuffer = char16_t[2 * PATH_UNITS];

// What one walk has done so far.
struct Walk {
    std::size_t told = 0;  // lines of entries left as they are or not listed
};

// The reason a line gives for an outcome; nullptr for one that leaves nothing to tell: done, an
// entry that is gone, a link that is never entered.
const char16_t* reason_of(Outcome outcome) {
    switch (outcome) {
        case Outcome::done:
        case Outcome::gone:
        case Outcome::link:
            return nullptr;
        case Outcome::name_taken:
            return u"name taken";
        case Outcome::no_permission:
            return u"no permission";
        case Outcome::read_only:
            return u"read-only";
        case Outcome::path_too_long:
            return u"path too long";
        case Outcome::reserved_name:
            return u"reserved name";
        case Outcome::not_supported:
            return u"not supported";
        case Outcome::mount_point:
            return u"mount point";
        case Outcome::not_text:
            return u"not UTF-8";
        case Outcome::no_space:
            return u"no space";
        case Outcome::in_use:
            return u"in use";
        case Outcome::other_file_system:
            return u"other file system";
        case Outcome::too_many_open_files:
            return u"too many open files";
        case Outcome::failed:
            break;
    }
    return u"failed";
}

// Prints the line `format` (LEFT_AS_IS or NOT_LISTED) for path, unless the outcome leaves
// nothing to tell.
void tell(Walk* walk, const char16_t* format, Outcome outcome, const char16_t* path) {
    const char16_t* reason = reason_of(outcome);
    if (reason != nullptr) {
        console_print(format, reason, path);
        ++walk->told;
    }
}

// Tells what a move that did not succeed left at new_path besides the entry.
void tell_leftover(Walk* walk, Leftover left, const char16_t* new_path) {
    if (left != Leftover::none) {
        console_print(LEFT_BEHIND, left == Leftover::claim ? u"empty claim" : u"second name",
                      new_path);
        ++walk->told;
    }
}

bool is_separator(char16_t unit) {
    for (const char16_t* s = COMPONENT_SEPARATORS; *s != u'\0'; ++s) {
        if (unit == *s) {
            return true;
        }
    }
    return false;
}

// Where path's last component starts: just past its last separator, or past the drive that
// starts it ("D:Архив"); 0 when it has neither.
std::size_t last_component_start(const char16_t* path) {
    const bool drive = DRIVE_SEPARATOR != u'\0' && capital_of(path[0]) >= u'A' &&
                       capital_of(path[0]) <= u'Z' && path[1] == DRIVE_SEPARATOR;
    std::size_t start = drive ? 2 : 0;
    for (std::size_t i = 0; path[i] != u'\0'; ++i) {
        if (is_separator(path[i])) {
            start = i + 1;
        }
    }
    return start;
}

// Where an entry stands: its name in its directory, and its path for people.
struct Place {
    const char16_t* name;  // nullptr when the path is too long to act on
    const char16_t* path;  // nullptr for a file that keeps its name
};

// Renames an entry of dir to its Latin form when its name changes, and prints what became of it.
// Returns where the entry now stands: at its Latin name (latin, new_path) once moved, at its own
// otherwise (old_path); one whose path is too long to act on is left, told when its name
// changes. A name that is no text is never changed, and always told.
Place rename_entry(Walk* walk, Directory* dir, const char16_t* dir_path, const DirEntry& entry,
                   PathBuffer& latin, EntryPathBuffer& old_path, PathBuffer& new_path) {
    bool fit = false;
    const bool text = is_text_name(entry.name);
    const bool changes = text && latinize_name(entry.name, latin, &fit);
    if (text && !changes && entry.kind != EntryKind::directory) {
        return {entry.name, nullptr};  // nothing to do, nor to show: no path is composed
    }
    if (!format_text(old_path, ENTRY_PATH_FORMAT, dir_path, entry.name) ||
        text_length(old_path) >= PATH_UNITS) {
        if (changes || !text) {
            tell(walk, LEFT_AS_IS, Outcome::path_too_long, old_path);
        }
        return {nullptr, old_path};
    }
    if (!changes) {
        if (!text) {
            tell(walk, LEFT_AS_IS, Outcome::not_text, old_path);
        }
        return {entry.name, old_path};
    }
    Leftover left = Leftover::none;
    const Outcome moved = fit && format_text(new_path, ENTRY_PATH_FORMAT, dir_path, latin)
                              ? move_without_replacing(dir, entry.name, latin, entry.kind, &left)
                              : Outcome::path_too_long;
    if (moved != Outcome::done) {
        tell(walk, LEFT_AS_IS, moved, old_path);
        tell_leftover(walk, left, new_path);
        return {entry.name, old_path};
    }
    console_print(entry.kind == EntryKind::directory ? DIRECTORY_RENAMED : FILE_RENAMED, old_path,
                  new_path);
    return {latin, new_path};
}

void walk_directory(Walk* walk, Directory* dir, const char16_t* dir_path);

// Opens the directory where it stands in parent and walks it; one that cannot be opened is told.
void descend(Walk* walk, Directory* parent, const Place& place) {
    Directory* subdirectory = nullptr;
    const Outcome opened = place.name == nullptr
                               ? Outcome::path_too_long
                               : open_directory(parent, place.name, &subdirectory);
    if (opened != Outcome::done) {
        tell(walk, NOT_LISTED, opened, place.path);
        return;
    }
    walk_directory(walk, subdirectory, place.path);
    close_directory(subdirectory);
}

void walk_directory(Walk* walk, Directory* dir, const char16_t* dir_path) {
    DirEntry entry;
    Listing listing = Listing::end;
    while (!stop_requested() && (listing = read_entry(dir, &entry)) == Listing::entry) {
        PathBuffer latin;
        EntryPathBuffer old_path;
        PathBuffer new_path;
        const Place place = rename_entry(walk, dir, dir_path, entry, latin, old_path, new_path);
        if (entry.kind == EntryKind::directory) {
            descend(walk, dir, place);
        }
    }
    if (listing == Listing::failed) {
        tell(walk, NOT_LISTED, Outcome::failed, dir_path);
    }
}

// Opens the root through its parent when that is held, so that the directory walked is the one
// renamed last; by the path as given otherwise, or when that fails. A root that is gone by now
// is told all the same: nothing of the tree was walked.
void walk_root(Walk* walk, Directory* parent, const char16_t* root, const char16_t* path,
               const char16_t* name) {
    Directory* dir = nullptr;
    if (parent == nullptr || open_root(parent, name, &dir) != Outcome::done) {
        const Outcome opened = open_root_path(root, &dir);
        if (opened != Outcome::done) {
            tell(walk, NOT_LISTED, opened == Outcome::gone ? Outcome::failed : opened, path);
            return;
        }
    }
    walk_directory(walk, dir, path);
    close_directory(dir);
}

// The root's own rename, made ready before the walk.
struct RootRename {
    bool due = false;                 // the root's own name holds letters of the table
    Outcome refusal = Outcome::done;  // why it cannot be renamed; done when it can
    Directory* parent = nullptr;      // the directory that holds it, open when it can
    PathBuffer name;                  // its name as its parent stores it
    PathBuffer latin;                 // its Latin name
    PathBuffer new_path;
};

// Makes ready the rename of the root typed as `typed`, held by the directory at parent_path, whose
// path for people ends in `separators`. Only the root's own name may change: a parent path that
// changes too would carry it out of the place the user named. The parent is opened to reach the
// root alone, so that it need not be readable; it tells the name it stores the root under, which
// is the one transliterated (on Windows, typed in other letter case or in its short form).
void prepare_root_rename(const char16_t* parent_path, const char16_t* typed,
                         const char16_t* separators, RootRename* rename) {
    // The root stood there a moment ago, so a parent that cannot be found (a share's server,
    // on Windows) leaves the root with a line all the same.
    const Outcome opened = open_root_parent(parent_path, &rename->parent);
    if (opened != Outcome::done || !stored_root_name(rename->parent, typed, rename->name)) {
        format_text(rename->name, u"%s", typed);  // a component of a path that fit
    }
    bool fit = false;
    const bool text = is_text_name(rename->name);
    rename->due = !text || latinize_name(rename->name, rename->latin, &fit);
    PathBuffer parent_latin;
    bool parent_fit = false;
    if (!rename->due) {
        if (rename->parent != nullptr) {  // held, it would keep the root's siblings from moving
            clear_move_note(rename->parent);
            close_directory(rename->parent);
            rename->parent = nullptr;
        }
    } else if (!text) {
        rename->refusal = Outcome::not_text;
    } else if (latinize_name(parent_path, parent_latin, &parent_fit)) {
        rename->refusal = Outcome::failed;
    } else if (!fit ||
               !format_text(rename->new_path, u"%s%s%s", parent_path, rename->latin, separators)) {
        rename->refusal = Outcome::path_too_long;
    } else {
        rename->refusal = opened == Outcome::gone ? Outcome::failed : opened;
    }
}

}  // namespace

std::size_t rename_tree(const char16_t* root) {
    Walk walk;
    // The lines show the root less one trailing separator, and every path below it is composed
    // from what is left: "/" thus becomes "", whose entries read "/name", and "Фото//" gives
    // "Фото//Кот". The root is opened as given.
    PathBuffer path;
    if (!format_text(path, u"%s", root)) {
        tell(&walk, NOT_LISTED, Outcome::path_too_long, root);
        return walk.told;
    }
    std::size_t name_end = text_length(path);
    if (name_end > 0 && is_separator(path[name_end - 1])) {
        path[--name_end] = u'\0';
    }
    // Split into the directory that holds the root, the root's own name, and the separators
    // that still end its path.
    while (name_end > 0 && is_separator(path[name_end - 1])) {
        --name_end;
    }
    PathBuffer parent_path;
    format_text(parent_path, u"%s", path);  // as long as path, which fit
    parent_path[name_end] = u'\0';
    const std::size_t name_start = last_component_start(parent_path);
    PathBuffer name;
    format_text(name, u"%s", parent_path + name_start);
    parent_path[name_start] = u'\0';

    RootRename rename;
    prepare_root_rename(parent_path, name, path + name_end, &rename);
    walk_root(&walk, rename.parent, root, path, name);
    if (rename.due && !stop_requested()) {
        Leftover left = Leftover::none;
        const Outcome moved = rename.refusal == Outcome::done
                                  ? move_without_replacing(rename.parent, rename.name, rename.latin,
                                                           EntryKind::directory, &left)
                                  : rename.refusal;
        if (moved == Outcome::done) {
            console_print(DIRECTORY_RENAMED, path, rename.new_path);
        } else {
            tell(&walk, LEFT_AS_IS, moved, path);
            tell_leftover(&walk, left, rename.new_path);
        }
    }
    if (rename.parent != nullptr) {
        close_directory(rename.parent);
    }
    return walk.told;
}
