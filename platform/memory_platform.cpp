// The in-memory platform: the platform's operations over the tree of memory_platform.h.
#include "platform/memory_platform.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "platform/output.h"
#include "platform/utf8.h"

const char16_t COMPONENT_SEPARATORS[] = u"/";
const char16_t ENTRY_PATH_FORMAT[] = u"%s/%s";

struct Directory {
    MemoryEntry* entry;
    std::size_t next;  // the index of the next entry to list
};

namespace {

MemoryEntry current_directory = {u"", EntryKind::directory, {}};

MemoryEntry* find(MemoryEntry* dir, const std::u16string& name) {
    auto found = std::find_if(dir->entries.begin(), dir->entries.end(),
                              [&](const MemoryEntry& entry) { return entry.name == name; });
    return name == u"." ? dir : found == dir->entries.end() ? nullptr : &*found;
}

// The entry at path; nullptr when there is none, or when `opening` and a directory on the way
// refuses to be opened. With `making`, what is missing on the way is made, a directory.
MemoryEntry* resolve(const std::u16string& path, bool opening, bool making = false) {
    MemoryEntry* entry = &current_directory;
    for (std::size_t start = 0; entry != nullptr && start < path.size();) {
        const std::size_t end = std::min(path.find(u'/', start), path.size());
        MemoryEntry* dir = opening && entry->open_refusal != Outcome::done ? nullptr : entry;
        const std::u16string name = path.substr(start, end - start);
        entry = dir == nullptr ? nullptr : find(dir, name);
        if (entry == nullptr && making) {
            entry = &dir->entries.emplace_back(MemoryEntry{name, EntryKind::directory, {}});
        }
        start = end + 1;
    }
    return entry;
}

void list(const MemoryEntry& dir, const std::u16string& prefix, std::u16string* paths) {
    for (const MemoryEntry& entry : dir.entries) {
        const bool is_directory = entry.kind == EntryKind::directory;
        *paths += prefix + entry.name +
                  (is_directory                    ? u"/\n"
                   : entry.kind == EntryKind::link ? u"@\n"
                                                   : u"\n");
        if (is_directory) {
            list(entry, prefix + entry.name + u"/", paths);
        }
    }
}

Outcome hold(MemoryEntry* entry, LinkPolicy links, Directory** opened) {
    if (entry == nullptr || entry->open_refusal != Outcome::done) {
        return entry == nullptr ? Outcome::gone : entry->open_refusal;
    }
    if (entry->kind != EntryKind::directory) {
        const bool refused_link = entry->kind == EntryKind::link && links == LinkPolicy::refuse;
        return refused_link ? Outcome::link : Outcome::gone;
    }
    *opened = new Directory{entry, 0};
    return Outcome::done;
}

}  // namespace

namespace memory_platform {

std::u16string printed;
std::size_t stop_at_lines;

void reset(std::initializer_list<std::u16string> paths) {
    current_directory.entries.clear();
    printed.clear();
    stop_at_lines = SIZE_MAX;
    for (const std::u16string& path : paths) {
        const bool is_directory = path.back() == u'/', is_link = path.back() == u'@';
        const std::size_t length = path.size() - (is_directory || is_link ? 1 : 0);
        resolve(path.substr(0, length), false, true)->kind = is_directory ? EntryKind::directory
                                                             : is_link    ? EntryKind::link
                                                                          : EntryKind::other;
    }
}

MemoryEntry& at(const std::u16string& path) {
    return *resolve(path, false);
}

std::u16string tree() {
    std::u16string paths;
    list(current_directory, u"", &paths);
    return paths;
}

}  // namespace memory_platform

Outcome open_directory_path(const char16_t* path, DirectoryUse, Directory** opened) {
    const Outcome outcome = hold(resolve(path, true), LinkPolicy::follow, opened);
    return outcome == Outcome::link || outcome == Outcome::reserved_name ? Outcome::failed
                                                                         : outcome;
}

Outcome open_directory(Directory* parent, const char16_t* name, LinkPolicy links,
                       Directory** opened) {
    return hold(find(parent->entry, name), links, opened);
}

Listing read_entry(Directory* dir, DirEntry* entry) {
    if (dir->next == dir->entry->entries.size()) {
        return dir->entry->listing_fails ? Listing::failed : Listing::end;
    }
    const MemoryEntry& listed = *std::next(dir->entry->entries.begin(), dir->next++);
    *std::copy(listed.name.begin(), listed.name.end(), entry->name) = u'\0';
    entry->kind = listed.kind;
    return Listing::entry;
}

void close_directory(Directory* dir) {
    delete dir;
}

Outcome move_without_replacing(Directory* dir, const char16_t* old_name, const char16_t* new_name,
                               EntryKind) {
    MemoryEntry* entry = find(dir->entry, old_name);
    if (entry == nullptr || entry->move_refusal != Outcome::done) {
        return entry == nullptr ? Outcome::gone : entry->move_refusal;
    }
    if (find(dir->entry, new_name) != nullptr) {
        return Outcome::name_taken;
    }
    entry->name = new_name;
    return Outcome::done;
}

bool is_text_name(const char16_t* name) {
    return !holds_escaped_bytes(name);
}

bool is_directory(const char16_t* path) {
    const MemoryEntry* entry = resolve(path, false);
    return entry != nullptr && entry->kind == EntryKind::directory;
}

void output_start() {}

bool console_write(const char16_t* text, std::size_t units) {
    memory_platform::printed.append(text, units);
    return true;
}

bool stop_requested() {
    const auto lines =
        std::count(memory_platform::printed.begin(), memory_platform::printed.end(), u'\n');
    return static_cast<std::size_t>(lines) >= memory_platform::stop_at_lines;
}

int output_finish(int exit_code) {
    return exit_code;
}
