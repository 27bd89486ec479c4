#!/usr/bin/env bash
# Sets up the machine, builds, and starts the tool: the restore dialog under
# Wine when a display is available (or on a virtual one with SORVANE_XVFB=1),
# in a wine session of its own (scripts/wine-session.sh); arguments then go
# to Sorvane.exe, whose one optional argument is a backup archive to select.
#
# Without a display the console front end does the tool's main job instead:
# with no arguments it makes a small example backup (a real ZIP archive
# under a real backup file name, Japanese folder names inside, entry names
# in code page 932 as the backup program writes them), restores it into a
# temporary folder with `sorvane-cli restore`, and prints what `info` reads
# from its name, the result and the restored tree. With arguments it runs
# `sorvane-cli` with them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
cd "$top"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target sorvane-cli
if [ -n "${DISPLAY:-}" ] || [ "${SORVANE_XVFB:-0}" = 1 ]; then
  cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build-win -j "$(nproc)" --target Sorvane
  # In a wine session, like the tests: whatever an earlier run left on the
  # prefix can't get in the way, and closing the dialog (or Ctrl-C) leaves
  # nothing running.
  display=()
  [ -n "${DISPLAY:-}" ] && display=(--display)
  exec "$top/scripts/wine-session.sh" "${display[@]}" "$top/cmake/wine-run.sh" build-win/app/Sorvane.exe "$@"
fi
[ $# -gt 0 ] && exec build/cli/sorvane-cli "$@"

# ---- no display, no arguments: restore an example backup
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/backups" "$work/restored"

# Writes the backup of D:\データ\写真 taken 2024/03/15 09:30:00 and prints
# its path. The file name carries the time, the kind "1" and the folder's
# path as Base64 of its code page 932 bytes; inside, the folder itself with
# its sub-folders, one entry stored and the others deflated.
archive=$(python3 - "$work/backups" <<'PY'
import base64, struct, sys, zlib

original = 'D:\\データ\\写真'
encoded = base64.b64encode(original.encode('cp932')).decode('ascii')
assert '/' not in encoded  # a file name can't hold it
path = f'{sys.argv[1]}/20240315093000_1_{encoded}.zip'

dos_time = (9 << 11) | (30 << 5)                 # 09:30:00
dos_date = ((2024 - 1980) << 9) | (3 << 5) | 15  # 2024-03-15
entries = [
    ('写真/', None),
    ('写真/はじめに.txt', 'この写真フォルダは Sorvane の復元例です。\n'),
    ('写真/旅行/', None),
    ('写真/旅行/京都/', None),
    ('写真/旅行/京都/金閣寺.txt', '金閣寺 2023/11/03\n' * 40),
    ('写真/旅行/京都/メモ.txt', '嵐山で紅葉を見た。\n'),
    ('写真/家族/', None),
    ('写真/家族/誕生日.txt', 'おめでとう！\n' * 200),
]
data, central = bytearray(), bytearray()
for name, text in entries:
    raw_name = name.encode('cp932')
    body = b'' if text is None else text.encode('cp932')
    crc = zlib.crc32(body)
    method, stored = 0, body
    if len(body) > 64:
        packer = zlib.compressobj(9, zlib.DEFLATED, -15)
        method, stored = 8, packer.compress(body) + packer.flush()
    offset = len(data)
    data += struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, 0, method, dos_time, dos_date,
                        crc, len(stored), len(body), len(raw_name), 0) + raw_name + stored
    attributes = 0x10 if text is None else 0x20  # folder / archive bit
    central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 20, 20, 0, method, dos_time, dos_date,
                           crc, len(stored), len(body), len(raw_name), 0, 0, 0, 0, attributes,
                           offset) + raw_name
end = struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, len(entries), len(entries), len(central), len(data), 0)
with open(path, 'wb') as f:
    f.write(data + central + end)
print(path)
PY
)

cli=build/cli/sorvane-cli
echo "== example backup: $archive"
echo
echo "== sorvane-cli info (what the file name says)"
"$cli" info "$archive"
echo
echo "== sorvane-cli restore ARCHIVE $work/restored"
status=0
"$cli" restore "$archive" "$work/restored" || status=$?
echo
echo "== restored tree"
(cd "$work/restored" && find . -mindepth 1 | LC_ALL=C sort | while read -r item; do
  if [ -d "$item" ]; then
    echo "${item#./}/"
  else
    echo "${item#./}  ($(stat -c %s "$item") bytes)"
  fi
done)
exit "$status"
