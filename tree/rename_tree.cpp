// The walk: list a directory, rename its entries, descend, and last try the directory itself.
// Every path is composed in a fixed buffer and checked; a path that does not fit is never used.
#include "tree/rename_tree.h"

#include "app/console.h"
#include "latinize/latinize.h"
#include "platform/platform.h"

namespace {

constexpr char16_t FILE_RENAMED[] = u"rename file from %s to %s\n";
constexpr char16_t DIRECTORY_RENAMED[] = u"rename directory from %s to %s\n";
constexpr char16_t LEFT_AS_IS[] = u"left as is, path too long: %s%s%s\n";

void report_left_as_is(const char16_t* dir, const char16_t* name) {
    console_print(LEFT_AS_IS, dir, PATH_SEPARATOR, name);
}

void report_left_as_is(const char16_t* path) {
    console_print(LEFT_AS_IS, path, u"", u"");
}

bool is_dot_or_dot_dot(const char16_t* name) {
    return name[0] == u'.' && (name[1] == u'\0' || (name[1] == u'.' && name[2] == u'\0'));
}

bool is_separator(char16_t unit) {
    for (const char16_t* s = COMPONENT_SEPARATORS; *s != u'\0'; ++s) {
        if (unit == *s) {
            return true;
        }
    }
    return false;
}

// True when `moved` differs from `path` in the last component alone, so that a move between them
// keeps the entry in its parent directory.
bool keeps_parent(const char16_t* path, const char16_t* moved) {
    std::size_t parent_end = 0;  // just past the last separator, 0 when there is none
    for (std::size_t i = 0; path[i] != u'\0'; ++i) {
        if (is_separator(path[i])) {
            parent_end = i + 1;
        }
    }
    for (std::size_t i = 0; i < parent_end; ++i) {
        if (moved[i] != path[i]) {
            return false;
        }
    }
    for (std::size_t i = parent_end; moved[i] != u'\0'; ++i) {
        if (is_separator(moved[i])) {
            return false;
        }
    }
    return true;
}

void walk(const char16_t* dir, LinkPolicy links);

// Renames one entry of dir when its name changes, then descends into it when it is a directory.
void visit_entry(const char16_t* dir, const DirEntry& entry) {
    const char16_t* name = entry.name;
    if (entry.is_directory && is_dot_or_dot_dot(name)) {
        return;
    }
    PathBuffer latin;
    bool fit = false;
    const bool changed = latinize_name(name, latin, &fit);
    if (!changed && !entry.is_directory) {
        return;
    }
    PathBuffer new_path;
    if (!fit || !format_text(new_path, ENTRY_PATH_FORMAT, dir, latin)) {
        report_left_as_is(dir, name);
        return;
    }
    if (changed) {
        PathBuffer& old_path = latin;  // the Latin name is in new_path now
        if (!format_text(old_path, ENTRY_PATH_FORMAT, dir, name)) {
            report_left_as_is(dir, name);
            return;
        }
        if (move_without_replacing(old_path, new_path)) {
            console_print(entry.is_directory ? DIRECTORY_RENAMED : FILE_RENAMED, old_path,
                          new_path);
        }
    }
    if (entry.is_directory) {
        // Under its new name; when the move failed, into whatever bears that name already.
        walk(new_path, LinkPolicy::refuse);
    }
}

void walk(const char16_t* dir, LinkPolicy links) {
    PathBuffer pattern;
    DirListing listing;
    DirEntry entry;
    if (format_text(pattern, LISTING_PATTERN_FORMAT, dir) &&
        listing_first(pattern, links, &listing, &entry)) {
        do {
            visit_entry(dir, entry);
        } while (listing_next(&listing, &entry));
        listing_close(&listing);
    }

    PathBuffer latin;
    bool fit = false;
    // Only the directory's own name may change: a move to another parent would carry the
    // directory out of the walked tree. A cut Latin path that already differs within the parent
    // is left alone as quietly as a whole one.
    if (!latinize_name(dir, latin, &fit) || !keeps_parent(dir, latin)) {
        return;
    }
    if (!fit) {
        report_left_as_is(dir);
        return;
    }
    if (move_without_replacing(dir, latin)) {
        console_print(DIRECTORY_RENAMED, dir, latin);
    }
}

}  // namespace

void rename_tree(const char16_t* dir) {
    walk(dir, LinkPolicy::follow);
}
