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
constexpr char16_t LEFT_AS_IS[] = u"left as is, path too long: %s%s%s\n";

void report_left_as_is(const char16_t* dir_path, const char16_t* name) {
    console_print(LEFT_AS_IS, dir_path, PATH_SEPARATOR, name);
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

void walk(Directory* dir, const char16_t* dir_path);

// Renames one entry of dir when its name changes, then descends into it when it is a directory.
void visit_entry(Directory* dir, const char16_t* dir_path, const DirEntry& entry) {
    const char16_t* name = entry.name;
    PathBuffer latin;
    bool fit = false;
    const bool changed = latinize_name(name, latin, &fit);
    if (!changed && !entry.is_directory) {
        return;
    }
    PathBuffer new_path;
    PathBuffer old_path;
    if (!fit || !format_text(new_path, ENTRY_PATH_FORMAT, dir_path, latin) ||
        !format_text(old_path, ENTRY_PATH_FORMAT, dir_path, name)) {
        report_left_as_is(dir_path, name);
        return;
    }
    if (changed && move_without_replacing(*dir, name, latin)) {
        console_print(entry.is_directory ? DIRECTORY_RENAMED : FILE_RENAMED, old_path, new_path);
    }
    Directory subdirectory;
    // Under its new name; when the move failed, into whatever bears that name already.
    if (entry.is_directory && open_directory(*dir, latin, LinkPolicy::refuse, &subdirectory)) {
        walk(&subdirectory, new_path);
        close_directory(&subdirectory);
    }
}

void walk(Directory* dir, const char16_t* dir_path) {
    DirEntry entry;
    while (read_entry(dir, &entry)) {
        visit_entry(dir, dir_path, entry);
    }
}

}  // namespace

void rename_tree(const char16_t* root) {
    // The lines show the root without trailing separators, so that every path composed below it
    // takes exactly one and its last component is the root's own name. "/" thus becomes "", whose
    // entries read "/name".
    PathBuffer root_path;
    if (!format_text(root_path, u"%s", root)) {
        return;
    }
    std::size_t length = text_length(root_path);
    while (length > 0 && is_separator(root_path[length - 1])) {
        root_path[--length] = u'\0';
    }

    // Only the root's own name may change: a move to another parent would carry it out of the
    // place the user named. A cut Latin path that already differs within the parent is left
    // alone as quietly as a whole one.
    PathBuffer latin;
    bool fit = false;
    const bool renames_root =
        latinize_name(root_path, latin, &fit) && keeps_parent(root_path, latin);
    const std::size_t name_start = last_component_start(root_path);
    PathBuffer parent_path;
    for (std::size_t i = 0; i < name_start; ++i) {
        parent_path[i] = root_path[i];
    }
    parent_path[name_start] = u'\0';

    // A root to be renamed is opened through the directory that holds it, which then serves for
    // its final move; any other root, or one that cannot be opened so, by its path.
    Directory parent;
    Directory dir;
    const bool parent_open = renames_root && open_directory_path(parent_path, &parent);
    const char16_t* root_name = root_path + name_start;
    if ((parent_open && open_directory(parent, root_name, LinkPolicy::follow, &dir)) ||
        open_directory_path(root, &dir)) {
        walk(&dir, root_path);
        close_directory(&dir);
    }
    if (renames_root && !fit) {
        console_print(LEFT_AS_IS, root_path, u"", u"");
    } else if (parent_open && move_without_replacing(parent, root_name, latin + name_start)) {
        console_print(DIRECTORY_RENAMED, root_path, latin);
    }
    if (parent_open) {
        close_directory(&parent);
    }
}
