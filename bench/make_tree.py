#!/usr/bin/env python3
"""Makes a benchmark tree of real Russian words from the hunspell-ru dictionary.

    make_tree.py ENTRIES DIR [--latin] [--wide]

About 8% of the entries are directories, nested twelve levels deep at most; a third of the files
have an extension; names are unique within their directory after transliteration, whatever the
letter case. With --wide the entries are instead ENTRIES empty subdirectories of DIR itself, a
word each, with a number after the words that come again. With --latin every name is written
already transliterated, so that there is nothing to rename. The same ENTRIES always give the same
tree.
"""
import os
import random
import sys

DICTIONARY = "/usr/share/hunspell/ru_RU.dic"
DIRECTORY_SHARE = 0.08
MAX_DEPTH = 12
EXTENSIONS = [".jpg", ".docx", ".pdf", ".txt", ".mp3", ".xlsx"]
# Latin units a path may take below the root, leaving room for any root under /tmp.
MAX_RELATIVE_UNITS = 190

LOWER = dict(zip("абвгдеёжзийклмнопрстуфхцчшщъыьэюя",
                 ["a", "b", "v", "g", "d", "e", "e", "zh", "z", "i", "j", "k", "l", "m", "n",
                  "o", "p", "r", "s", "t", "u", "f", "h", "c", "ch", "sh", "sh", "'", "y", "'",
                  "e", "yu", "ya"]))
SMALL = set("абвгдежзийклмнопрстуфхцчшщъыьэюя")  # ё does not count as small for the case rule


def latin(name):
    out = []
    for i, ch in enumerate(name):
        low = ch.lower()
        if low not in LOWER:
            out.append(ch)
        elif ch == low:
            out.append(LOWER[low])
        else:
            word = LOWER[low].upper()
            following = name[i + 1] if i + 1 < len(name) else ""
            out.append(word[0] + word[1:].lower() if len(word) == 2 and following in SMALL
                       else word)
    return "".join(out)


def words():
    found = set()
    with open(DICTIONARY, encoding="utf-8") as dic:
        next(dic)  # the word count
        for line in dic:
            word = line.split("/")[0].strip()
            if 3 <= len(word) <= 10 and all(ch.lower() in LOWER for ch in word):
                found.add(word.lower())
    return sorted(found)


def main():
    options = set(sys.argv[3:])
    if len(sys.argv) < 3 or not options <= {"--latin", "--wide"}:
        sys.exit(__doc__)
    entries, root, as_latin = int(sys.argv[1]), sys.argv[2], "--latin" in options
    rng = random.Random(entries)
    vocabulary = words()

    def styled(word):
        roll = rng.random()
        return word.upper() if roll < 0.05 else word.capitalize() if roll < 0.55 else word

    if "--wide" in options:
        os.makedirs(root, exist_ok=True)
        seen = {}
        for _ in range(entries):
            word = rng.choice(vocabulary)
            key = latin(word)
            seen[key] = seen.get(key, 0) + 1
            name = styled(word) + (f" {seen[key]}" if seen[key] > 1 else "")
            os.mkdir(os.path.join(root, latin(name) if as_latin else name))
        return

    taken = {"": set()}  # per directory: the Latin names in use, in lower case
    latin_length = {"": 0}  # per directory: Latin units of its path below the root

    def new_name(parent, extension=""):
        while True:
            name = styled(rng.choice(vocabulary)) + extension
            key = latin(name).lower()
            length = latin_length[parent] + 1 + len(latin(name))
            if key not in taken[parent] and length <= MAX_RELATIVE_UNITS:
                taken[parent].add(key)
                return name, length

    directories = [""]
    depth = {"": 0}
    open_parents = [""]  # directories that may still get a subdirectory
    count = round(entries * DIRECTORY_SHARE)
    for index in range(count):
        # First one chain down to the deepest level, then anywhere above it.
        parent = directories[-1] if index < MAX_DEPTH else rng.choice(open_parents)
        name, length = new_name(parent)
        path = os.path.join(parent, name)
        directories.append(path)
        depth[path] = depth[parent] + 1
        taken[path] = set()
        latin_length[path] = length
        if depth[path] < MAX_DEPTH:
            open_parents.append(path)

    def on_disk(path):
        return os.path.join(root, *(latin(part) if as_latin else part
                                    for part in path.split(os.sep) if part))

    os.makedirs(root, exist_ok=True)
    for path in directories[1:]:
        os.mkdir(on_disk(path))
    for _ in range(entries - count):
        parent = rng.choice(directories)
        extension = rng.choice(EXTENSIONS) if rng.random() < 1 / 3 else ""
        name, _ = new_name(parent, extension)
        os.close(os.open(on_disk(os.path.join(parent, name)), os.O_CREAT | os.O_WRONLY, 0o644))


if __name__ == "__main__":
    main()
