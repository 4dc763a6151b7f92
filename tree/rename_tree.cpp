// The walk: list a directory, rename its entries, descend, and last try the root itself.
// Entries are reached through the open directory that holds them and their bare names. The full
// paths composed here are the text of the lines, each in a fixed buffer and checked: an entry
// whose path does not fit is left as is, and said so.
#include "tree/rename_tree.h"

#include "console/console.h"
#include "latinize/latinize.h"
#include "platform/platform.h"

namespace {

constexpr char16_t FILE_RENAMED[] = u"rename file from %s to %s\n";
constexpr char16_t DIRECTORY_RENAMED[] = u"rename directory from %s to %s\n";
constexpr char16_t LEFT_AS_IS[] = u"left as is, %s: %s\n";
constexpr char16_t NOT_LISTED[] = u"not listed, %s: %s\n";

// A directory's path, a separator and a name: room for the path of any entry listed, shown even
// when it is too long to act on.
using EntryPathBuffer = char16_t[2 * PATH_UNITS];

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
        case Outcome::path_too_long:
            return u"path too long";
        case Outcome::reserved_name:
            return u"reserved name";
        case Outcome::not_supported:
            return u"not supported";
        case Outcome::failed:
            break;
    }
    return u"failed";
}

// Prints the line `format` (LEFT_AS_IS or NOT_LISTED) for path, unless the outcome leaves
// nothing to tell. Returns true when nothing was told.
bool tell(const char16_t* format, Outcome outcome, const char16_t* path) {
    const char16_t* reason = reason_of(outcome);
    if (reason == nullptr) {
        return true;
    }
    console_print(format, reason, path);
    return false;
}

bool is_separator(char16_t unit) {
    for (const char16_t* s = COMPONENT_SEPARATORS; *s != u'\0'; ++s) {
        if (unit == *s) {
            return true;
        }
    }
    return false;
}

// Where path's last component starts: just past its last separator, 0 when it has none.
std::size_t last_component_start(const char16_t* path) {
    std::size_t start = 0;
    for (std::size_t i = 0; path[i] != u'\0'; ++i) {
        if (is_separator(path[i])) {
            start = i + 1;
        }
    }
    return start;
}

// True when `moved` differs from `path` in the last component alone, so that a move between them
// keeps the entry in its parent directory.
bool keeps_parent(const char16_t* path, const char16_t* moved) {
    const std::size_t start = last_component_start(path);
    for (std::size_t i = 0; i < start; ++i) {
        if (moved[i] != path[i]) {
            return false;
        }
    }
    return last_component_start(moved + start) == 0;
}

// The walks below return true when every name they met with letters of the table got its Latin
// form, and every directory was listed: when they told of nothing left.
bool walk(Directory* dir, const char16_t* dir_path);

bool walk_subdirectory(const Directory& parent, const char16_t* name, const char16_t* path) {
    Directory subdirectory;
    const Outcome opened = open_directory(parent, name, LinkPolicy::refuse, &subdirectory);
    if (opened != Outcome::done) {
        return tell(NOT_LISTED, opened, path);
    }
    const bool all_latin = walk(&subdirectory, path);
    close_directory(&subdirectory);
    return all_latin;
}

// Renames one entry of dir when its name changes, then walks it when it is a directory: under its
// new name when it moved, under the name it still has when it did not, so that every subtree is
// walked once.
bool visit_entry(Directory* dir, const char16_t* dir_path, const DirEntry& entry) {
    const char16_t* name = entry.name;
    PathBuffer latin;
    bool fit = false;
    const bool changed = latinize_name(name, latin, &fit);
    if (!changed && !entry.is_directory) {
        return true;
    }
    EntryPathBuffer old_path;
    if (!format_text(old_path, ENTRY_PATH_FORMAT, dir_path, name) ||
        text_length(old_path) >= PATH_UNITS) {
        // Shown, shortened, but never acted on: the entry is left with all it holds.
        const bool name_latin = !changed || tell(LEFT_AS_IS, Outcome::path_too_long, old_path);
        return (!entry.is_directory || tell(NOT_LISTED, Outcome::path_too_long, old_path)) &&
               name_latin;
    }
    PathBuffer new_path;
    Outcome moved = Outcome::failed;
    if (changed) {
        moved = fit && format_text(new_path, ENTRY_PATH_FORMAT, dir_path, latin)
                    ? move_without_replacing(*dir, name, latin)
                    : Outcome::path_too_long;
        if (moved == Outcome::done) {
            console_print(entry.is_directory ? DIRECTORY_RENAMED : FILE_RENAMED, old_path,
                          new_path);
        }
    }
    const bool name_latin = !changed || tell(LEFT_AS_IS, moved, old_path);
    if (!entry.is_directory) {
        return name_latin;
    }
    const bool renamed = moved == Outcome::done;
    return walk_subdirectory(*dir, renamed ? latin : name, renamed ? new_path : old_path) &&
           name_latin;
}

bool walk(Directory* dir, const char16_t* dir_path) {
    bool all_latin = true;
    DirEntry entry;
    Listing listing;
    while ((listing = read_entry(dir, &entry)) == Listing::entry) {
        all_latin = visit_entry(dir, dir_path, entry) && all_latin;
    }
    return (listing == Listing::end || tell(NOT_LISTED, Outcome::failed, dir_path)) && all_latin;
}

}  // namespace

bool rename_tree(const char16_t* root) {
    // The lines show the root without trailing separators, so that every path composed below it
    // takes exactly one and its last component is the root's own name. "/" thus becomes "", whose
    // entries read "/name".
    PathBuffer root_path;
    if (!format_text(root_path, u"%s", root)) {
        return tell(NOT_LISTED, Outcome::path_too_long, root);
    }
    std::size_t length = text_length(root_path);
    while (length > 0 && is_separator(root_path[length - 1])) {
        root_path[--length] = u'\0';
    }
    const std::size_t name_start = last_component_start(root_path);
    const char16_t* root_name = root_path + name_start;
    PathBuffer latin;
    bool fit = false;
    const bool name_changes = latinize_name(root_name, latin, &fit);
    latinize_name(root_path, latin, &fit);
    PathBuffer parent_path;
    for (std::size_t i = 0; i < name_start; ++i) {
        parent_path[i] = root_path[i];
    }
    parent_path[name_start] = u'\0';

    // Only the root's own name may change: a move to another parent would carry it out of the
    // place the user named.
    Outcome moved = Outcome::done;
    if (name_changes && !fit) {
        moved = Outcome::path_too_long;
    } else if (name_changes && !keeps_parent(root_path, latin)) {
        moved = Outcome::failed;
    }
    // A root to be renamed is opened through the directory that holds it, which then serves for
    // its final move; any other root, or one that cannot be opened so, by its path.
    Directory parent;
    const Outcome parent_opened = name_changes && moved == Outcome::done
                                      ? open_directory_path(parent_path, &parent)
                                      : Outcome::failed;
    Directory dir;
    Outcome opened = parent_opened == Outcome::done
                         ? open_directory(parent, root_name, LinkPolicy::follow, &dir)
                         : Outcome::failed;
    if (opened != Outcome::done) {
        opened = open_directory_path(root, &dir);
    }
    bool all_latin = tell(NOT_LISTED, opened, root_path);
    if (opened == Outcome::done) {
        all_latin = walk(&dir, root_path);
        close_directory(&dir);
    }
    if (name_changes && moved == Outcome::done) {
        moved = parent_opened == Outcome::done
                    ? move_without_replacing(parent, root_name, latin + name_start)
                    : parent_opened;
        if (moved == Outcome::done) {
            console_print(DIRECTORY_RENAMED, root_path, latin);
        }
    }
    if (parent_opened == Outcome::done) {
        close_directory(&parent);
    }
    return tell(LEFT_AS_IS, moved, root_path) && all_latin;
}
