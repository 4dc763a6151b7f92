// The in-memory platform: the platform's operations over the entries of memory_platform.h, each
// known by its whole path, and a directory by the path of its entries.
#include "testing/memory_platform.h"

#include <algorithm>
#include <cstdint>
#include <list>

#include "platform/listing.h"
#include "platform/output.h"
#include "platform/utf8.h"

const char16_t COMPONENT_SEPARATORS[] = u"/";
const char16_t ENTRY_PATH_FORMAT[] = u"%s/%s";

struct Directory {
    std::u16string path;  // empty for the current directory
    std::list<MemoryEntry>::iterator next;
};

namespace {

std::list<MemoryEntry> entries;

std::u16string in(const std::u16string& dir, const std::u16string& name) {
    return dir.empty() ? name : dir + u"/" + name;
}

// The entry at path, or at the path stored for it where it is read loosely.
std::list<MemoryEntry>::iterator find(const std::u16string& path) {
    const std::u16string& stored =
        path == memory_platform::read_loosely.first ? memory_platform::read_loosely.second : path;
    return std::find_if(entries.begin(), entries.end(),
                        [&](const MemoryEntry& entry) { return entry.path == stored; });
}

// The directory at path ("." and "" are the current one, a trailing "/" is dropped), narrowed to
// the outcomes of the operation that opens it.
template <std::size_t N>
Outcome hold(std::u16string path, const Outcome (&outcomes)[N], Directory** opened) {
    path = path == u"." ? u"" : path.substr(0, path.find_last_not_of(u'/') + 1);
    const auto found = find(path);
    const Outcome outcome = path.empty()                           ? Outcome::done
                            : found == entries.end()               ? Outcome::gone
                            : found->open_refusal != Outcome::done ? found->open_refusal
                            : found->kind == EntryKind::link       ? Outcome::link
                            : found->kind != EntryKind::directory  ? Outcome::gone
                                                                   : Outcome::done;
    if (outcome == Outcome::done) {
        *opened = new Directory{found == entries.end() ? path : found->path, entries.begin()};
        ++memory_platform::open_directories;
    }
    return narrow_outcome(outcome, outcomes);
}

}  // namespace

namespace memory_platform {

std::u16string printed;
std::pair<std::u16string, std::u16string> read_loosely;
std::size_t stop_at_lines;
int open_directories;

void reset(std::initializer_list<std::u16string> paths) {
    entries.clear();
    printed.clear();
    read_loosely = {};
    stop_at_lines = SIZE_MAX;
    for (std::u16string path : paths) {
        const char16_t last = path.back();
        path.resize(path.size() - (last == u'/' || last == u'@'));
        for (std::size_t end = 0; (end = path.find(u'/', end + 1)) != std::u16string::npos;) {
            if (find(path.substr(0, end)) == entries.end()) {
                entries.push_back({path.substr(0, end), EntryKind::directory});
            }
        }
        entries.push_back({path, last == u'/'   ? EntryKind::directory
                                 : last == u'@' ? EntryKind::link
                                                : EntryKind::other});
    }
}

MemoryEntry& at(const std::u16string& path) {
    return *find(path);
}

std::u16string tree() {
    std::u16string paths;
    for (const MemoryEntry& entry : entries) {
        paths += entry.path + (entry.kind == EntryKind::directory ? u"/\n" : u"\n");
    }
    return paths;
}

}  // namespace memory_platform

Outcome open_root_parent(const char16_t* path, Directory** opened) {
    return hold(path, OPEN_ROOT_OUTCOMES, opened);
}

Outcome open_root(Directory* parent, const char16_t* name, Directory** opened) {
    return hold(in(parent->path, name), OPEN_ROOT_OUTCOMES, opened);
}

bool stored_root_name(Directory*, const char16_t* typed, PathBuffer& stored) {
    return typed == memory_platform::read_loosely.first &&
           format_text(stored, u"%s", memory_platform::read_loosely.second.c_str());
}

Outcome open_root_path(const char16_t* path, Directory** opened) {
    return hold(path, OPEN_ROOT_OUTCOMES, opened);
}

Outcome open_directory(Directory* parent, const char16_t* name, Directory** opened) {
    return hold(in(parent->path, name), OPEN_OUTCOMES, opened);
}

// The entries whose path is the directory's and one more name, in their order.
Listing read_entry(Directory* dir, DirEntry* entry) {
    const std::u16string prefix = in(dir->path, u"");
    for (; dir->next != entries.end(); ++dir->next) {
        const std::u16string& path = dir->next->path;
        if (path.starts_with(prefix) && path.find(u'/', prefix.size()) == std::u16string::npos) {
            *std::copy(path.begin() + prefix.size(), path.end(), entry->name) = u'\0';
            entry->kind = (dir->next++)->kind;
            return Listing::entry;
        }
    }
    const auto found = find(dir->path);
    return found != entries.end() && found->listing_fails ? Listing::failed : Listing::end;
}

void close_directory(Directory* dir) {
    --memory_platform::open_directories;
    delete dir;
}

Outcome move_without_replacing(Directory* dir, const char16_t* old_name, const char16_t* new_name,
                               EntryKind, Leftover* left) {
    const std::u16string old_path = in(dir->path, old_name), new_path = in(dir->path, new_name);
    const auto found = find(old_path);
    *left = found == entries.end() ? Leftover::none : found->move_leftover;
    const Outcome outcome = found == entries.end()                 ? Outcome::gone
                            : found->move_refusal != Outcome::done ? found->move_refusal
                            : find(new_path) != entries.end()      ? Outcome::name_taken
                                                                   : Outcome::done;
    for (MemoryEntry& entry : entries) {  // the entry and all it holds
        if (outcome == Outcome::done &&
            (entry.path == old_path || entry.path.starts_with(old_path + u"/"))) {
            entry.path.replace(0, old_path.size(), new_path);
        }
    }
    return narrow_outcome(outcome, MOVE_OUTCOMES);
}

bool is_text_name(const char16_t* name) {
    return !holds_escaped_bytes(name);
}

bool is_directory(const char16_t* path) {
    const auto found = find(path);
    return std::u16string(path) == u"." ||
           (found != entries.end() && found->kind == EntryKind::directory);
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
