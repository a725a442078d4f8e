#!/bin/bash
# Halbrook as a person runs it: the built program in a real X session (Xvfb
# with a small window manager), driven by xdotool keystrokes and window
# searches by title. It recovers a FAT32 image and a carving image and compares
# what came out with what went in, views a file, opens help, saves a scan and
# the debug log, quits, is ended by SIGTERM and by SIGSEGV, finds an update on a
# feed served on 127.0.0.1, and shows its windows in German and Japanese.
#
# Each step waits for the state it answers (a window shown or gone, the
# keyboard on it, the program idle, a file or a line written), never for a
# clock, and every wait has a bound: a step whose state does not come fails
# with what it waited for, and the run never hangs.
#
# Nothing leaves the machine: xdg-open is a stub first in PATH that records
# what it was asked to open. A screenshot of every stage lands in
# $HB_E2E_SHOTS (default: a folder under the work folder, kept and named at
# the end); they are for looking at, and stay out of the repository.
#
#   tests/e2e/run.sh [BUILD_DIR]      (default: build)
set -u

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
WORK=$(mktemp -d /tmp/hbe2e.XXXXXX)
SHOTS=${HB_E2E_SHOTS:-$WORK/shots}
mkdir -p "$SHOTS"
START=$(date +%s)
passed=0
failed=0
shot_number=0
PIDS=()

say() { printf '== %s\n' "$*"; }
ok() { passed=$((passed + 1)) && printf 'ok: %s\n' "$1"; }
bad() { failed=$((failed + 1)) && printf 'FAILED: %s\n' "$1"; }
check() { # description, then the command that must succeed
    local what=$1
    shift
    "$@" && ok "$what" && return 0
    bad "$what"
    return 1
}
quietly() { "$@" >>"$WORK/quiet.log" 2>&1; }
# Runs the command every tenth of a second (the sleep below is the pace of the
# looks, not a state) until it succeeds. Every wait of this script ends so: a
# state that does not come within its time fails the step with what was
# awaited, the run never hangs on it.
wait_for() { # seconds, what is awaited, command...
    local seconds=$1 what=$2 end=$(($(date +%s) + $1))
    shift 2
    until "$@"; do
        if [ "$(date +%s)" -gt "$end" ]; then
            echo "waited $seconds s in vain for $what" >&2
            return 1
        fi
        sleep 0.1
    done
}
# As check, but a failure ends the running program: the steps after it would
# only wait for windows that cannot come. Use as: must ... || return
must() {
    check "$@" && return 0
    shot "failed"
    echo "-- visible windows:"
    xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null | sort -u
    echo "-- the program's output:"
    tail -n 20 "$WORK/halbrook.out"
    [ -n "$HB_PID" ] && kill -KILL "$HB_PID" 2>/dev/null
    HB_PID=
    return 1
}

cleanup() {
    local pid
    # A program left stopped or busy would keep the wait below from ending.
    [ -z "${HB_PID:-}" ] || kill -KILL "$HB_PID" 2>/dev/null
    for pid in "${PIDS[@]}"; do
        kill "$pid" 2>/dev/null
    done
    wait 2>/dev/null
    # The pictures stay for looking at; everything else goes.
    if [ "${SHOTS#"$WORK"}" != "$SHOTS" ]; then
        find "$WORK" -mindepth 1 -maxdepth 1 ! -name shots -exec rm -rf {} +
    else
        rm -rf "$WORK"
    fi
}
trap cleanup EXIT

for tool in Xvfb openbox xdotool xclip import mkfs.fat mcopy convert python3; do
    if ! command -v "$tool" >/dev/null; then
        echo "end-to-end: $tool is missing (scripts/install-deps.sh installs it)" >&2
        exit 1
    fi
done

# -- The X session -----------------------------------------------------------
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done
export DISPLAY=:$display
Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
PIDS+=($!)
wait_for 20 "the X server on $DISPLAY" quietly xdotool getmouselocation || exit 1
start_wm() {
    openbox >>"$WORK/openbox.log" 2>&1 &
    WM_PID=$!
    PIDS+=("$WM_PID")
}
# Windows mapped before the window manager runs would get no frame and no focus.
# A window manager that did not come up says why, and is started once more: it
# is the session's, not the program's.
start_wm
if ! wait_for 20 "the window manager" quietly xdotool get_num_desktops; then
    tail -n 20 "$WORK/openbox.log" "$WORK/quiet.log" >&2
    kill "$WM_PID" 2>/dev/null
    start_wm
    wait_for 20 "the window manager, started again" quietly xdotool get_num_desktops || exit 1
fi

# Nothing is opened for real: GIO finds no handlers in these folders (only the
# file types, which the pictures need), so the program falls back to xdg-open,
# which is our stub.
mkdir -p "$WORK/bin" "$WORK/home" "$WORK/xdg-data" "$WORK/xdg-config"
ln -s /usr/share/mime "$WORK/xdg-data/mime"
cat >"$WORK/bin/xdg-open" <<EOF
#!/bin/sh
printf '%s\n' "\$*" >>"$WORK/opened.txt"
EOF
chmod +x "$WORK/bin/xdg-open"
export PATH="$WORK/bin:$PATH" HOME="$WORK/home" XDG_DATA_HOME="$WORK/xdg-data"
export XDG_DATA_DIRS="$WORK/xdg-data" XDG_CONFIG_HOME="$WORK/xdg-config" XDG_CONFIG_DIRS="$WORK/xdg-config"
export TZ=UTC LC_ALL=C.UTF-8 NO_AT_BRIDGE=1
# The program's temporary folders (the downloaded installer's is kept for the
# installer) land in the work folder, which goes at the end.
mkdir -p "$WORK/tmp"
export TMPDIR="$WORK/tmp"
touch "$WORK/opened.txt"

# The program reads the configuration file beside its executable: a copy of
# it, with the library folder beside it.
APP=$WORK/app
mkdir -p "$APP"
cp "$BUILD/halbrook" "$APP/halbrook"
ln -s "$BUILD/lib" "$APP/lib"
write_config() { # extra lines
    {
        echo "Program Name: Halbrook 1.0"
        echo "Web Site: http://127.0.0.1/"
        printf '%s\n' "$@"
    } >"$APP/halbrook.cfg"
}
write_config

# The screen once the program and the window manager have drawn what the
# last input asked for. A picture that shows a busy program is still worth
# having: it does not wait long.
shot() {
    shot_number=$((shot_number + 1))
    settle 10
    import -window root "$SHOTS/$(printf '%02d' "$shot_number")-$1.png" 2>/dev/null
}

# The id of the visible window whose title matches the regular expression, after
# waiting up to SECONDS (default 20); empty when none came. It says nothing when
# none came: a window that must not come is awaited so too. The sleep is the
# pace of the looks.
wait_window() {
    local end=$(($(date +%s) + ${2:-20})) id
    until id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1) && [ -n "$id" ]; do
        [ "$(date +%s)" -lt "$end" ] || return 1
        sleep 0.2
    done
    echo "$id"
}
# Whether a visible window matches, now.
window_now() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
window_height() { xdotool getwindowgeometry --shell "$1" | sed -n 's/^HEIGHT=//p'; }
no_window() { ! window_now "$1"; }
# Waits until no visible window matches.
wait_gone() { wait_for "${2:-20}" "the window \"$1\" to go" no_window "$1"; }
has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
# Puts the keyboard on the window with that title, then types keys or text.
# The keys go wherever the X focus is, so the focus must have arrived.
activate() {
    local id
    id=$(wait_window "$1") || { echo "no window \"$1\"" >&2 && return 1; }
    xdotool windowactivate --sync "$id" 2>/dev/null
    wait_for 10 "the keyboard on \"$1\"" has_focus "$id"
}
keys() { activate "$1" && shift && xdotool key --clearmodifiers --delay 60 "$@"; }
type_text() { activate "$1" && xdotool type --clearmodifiers --delay 30 "$2"; }
appears() { wait_window "$@" >/dev/null; }
# Waits until the program has handled the input sent to it: its main thread,
# and the window manager's, sleep at three looks a tenth of a second apart (a
# single look could catch a thread that waits a moment for the X server). A
# folder with many entries takes a while to open, and keys typed meanwhile must
# not race the rows they are meant for. A program that has ended is idle.
settle() { # [seconds, default 30]
    local end=$(($(date +%s) + ${1:-30})) quiet=0 pid state
    while [ "$quiet" -lt 3 ]; do
        if [ "$(date +%s)" -gt "$end" ]; then
            echo "the program was still busy after ${1:-30} s" >&2
            return 1
        fi
        sleep 0.1
        quiet=$((quiet + 1))
        for pid in $HB_PID $WM_PID; do
            state=$(cut -d ' ' -f 3 "/proc/$pid/task/$pid/stat" 2>/dev/null) || continue
            [ "$state" = S ] || quiet=0
        done
    done
}
# What the desktop was asked to open since mark_opened.
mark_opened() { OPENED_MARK=$(wc -l <"$WORK/opened.txt"); }
opened_since() { tail -n +$((OPENED_MARK + 1)) "$WORK/opened.txt"; }
opened_matches() { opened_since | grep -q "$1"; }
# F1 on the window opens the help page.
help_opens() { # title, page
    mark_opened
    keys "$1" F1 && wait_for 10 "the desktop to be asked for $2.html" opened_matches "$2.html\$"
}
# Acknowledges the Information box and waits until it is gone.
acknowledge() { keys "^Information$" Return && wait_gone "^Information$"; }
# Types the path into the file dialog's Location field and accepts it.
enter_path() { # title, path, shot name (taken before accepting)
    keys "$1" alt+l ctrl+a
    type_text "$1" "${2#/}"
    [ -z "${3:-}" ] || shot "$3"
    keys "$1" Return
}

HB_PID=
start_halbrook() { # arguments...
    (cd "$WORK" && exec "$APP/halbrook" "$@") >>"$WORK/halbrook.out" 2>&1 &
    HB_PID=$!
}
# Waits for the program to end; its exit status.
halbrook_ended() { ! kill -0 "$HB_PID" 2>/dev/null; }
finish_halbrook() {
    local status
    wait_for 30 "the program to end" halbrook_ended || kill -KILL "$HB_PID"
    wait "$HB_PID"
    status=$?
    HB_PID=
    return $status
}

# -- The images ---------------------------------------------------------------
say "images"
IMAGES=$WORK/img
mkdir -p "$IMAGES/files/docs/deep"
cd "$IMAGES/files"
head -c 150000 /dev/urandom >docs/report.bin
printf 'hello from the root\n' >hello.txt
seq 1 20000 >docs/deep/numbers.txt
convert -size 96x64 plasma:fractal -depth 8 picture.png 2>/dev/null
touch -d '2021-03-04 05:06:08' hello.txt
touch -d '2019-11-30 23:58:00' docs/report.bin
touch -d '2020-02-29 12:00:02' docs/deep/numbers.txt
touch -d '2022-07-01 08:09:10' picture.png
find . -type f | sort | while read -r f; do
    printf '%s %s %s\n' "$(md5sum <"$f" | cut -c1-32)" "$(stat -c %Y "$f")" "${f#./}"
done >"$IMAGES/fat.manifest"
cd "$WORK"
export MTOOLS_SKIP_CHECK=1
mkfs.fat -F 32 -C -i 0x1234abcd -n E2EVOL "$IMAGES/fat32.img" 40000 >/dev/null
mmd -i "$IMAGES/fat32.img" ::/docs ::/docs/deep
mcopy -m -i "$IMAGES/fat32.img" "$IMAGES/files/hello.txt" "$IMAGES/files/picture.png" ::/
mcopy -m -i "$IMAGES/fat32.img" "$IMAGES/files/docs/report.bin" ::/docs/
mcopy -m -i "$IMAGES/fat32.img" "$IMAGES/files/docs/deep/numbers.txt" ::/docs/deep/

# A carving image: pictures laid at sector boundaries with no file system.
mkdir -p "$IMAGES/carve"
convert -size 200x150 plasma:fractal -quality 85 "$IMAGES/carve/a.jpg" 2>/dev/null
convert -size 120x80 gradient:red-blue "$IMAGES/carve/b.png" 2>/dev/null
convert -size 64x48 xc:orange -fill navy -draw "circle 32,24 32,4" "BMP3:$IMAGES/carve/c.bmp" 2>/dev/null
truncate -s 4M "$IMAGES/carve.img"
offset=64
for f in a.jpg b.png c.bmp; do
    dd if="$IMAGES/carve/$f" of="$IMAGES/carve.img" bs=512 seek=$offset conv=notrunc 2>/dev/null
    offset=$((offset + 2048))
done
(cd "$IMAGES/carve" && md5sum a.jpg b.png c.bmp | cut -c1-32 | sort) >"$IMAGES/carve.manifest"

# Chooses an image on the wizard's source page by typing: each folder from the
# root, opened with "+", then the file, then Next.
choose_image() { # path below /
    local title="$1" path="$2" part rest
    # The root folder's row, wherever the drives put it.
    type_text "$title" "Logical Drive /" && settle
    keys "$title" Escape
    rest=${path#/}
    while [ -n "$rest" ]; do
        part=${rest%%/*}
        if [ "$part" = "$rest" ]; then rest=""; else rest=${rest#*/}; fi
        keys "$title" plus && settle
        type_text "$title" "$part" && settle
        keys "$title" Escape && settle
    done
}

# Next on the scan page: a deep scan when one is offered (after a complete one
# nothing is left to scan); answers the offer to save the scan with No.
deep_scan() { # the scan page's title, the file-system page's title
    keys "$1" Return
    local chosen=
    wait_for 60 "the window \"$2\" after the scan" scan_answered "$2"
}
# One look at the scan: answers the window that asks; true once the page after
# the scan is shown.
scan_answered() { # the file-system page's title
    if [ -z "$chosen" ] && window_now "^Select Scan Type$"; then
        shot "scan-type" && keys "^Select Scan Type$" alt+d && chosen=1
    elif window_now "^Question$"; then
        shot "offer-to-save-scan" && keys "^Question$" alt+n && wait_gone "^Question$"
    else
        window_now "^$1$" && return 0
    fi
    return 1
}

confirmation_has_keyboard() {
    local id
    id=$(xdotool getactivewindow 2>/dev/null) && has_focus "$id" &&
        [ -z "$(xdotool getwindowname "$id" 2>/dev/null)" ]
}
# Marks the root of the shown tree and recovers into a new folder; the
# closing message is photographed and acknowledged.
recover_all() { # destination folder below /, shot name
    keys "^Halbrook 1.0$" ctrl+Home space && settle
    keys "^Halbrook 1.0$" ctrl+r
    appears "Select Recover Destination Folder" || return 1
    enter_path "Select Recover Destination Folder" "$1" "$2-destination"
    # The confirmation, then the progress, then the closing message. The
    # confirmation has no title: it is the untitled window with the keyboard.
    wait_for 20 "the confirmation of the recovery" confirmation_has_keyboard || return 1
    shot "$2-confirmation"
    xdotool key --clearmodifiers Return
    appears "^Information$" 60 || return 1
    shot "$2-closing-message"
    acknowledge
}

# Every file of the manifest came back with its bytes and its time.
compare_fat() { # recovered folder
    local md5 time path status=0 found
    complain() { echo "$*" >&2 && status=1; }
    while read -r md5 time path; do
        found=$(find "$1" -type f -path "*/$path" | head -n 1)
        [ -n "$found" ] || { complain "missing: $path" && continue; }
        [ "$(md5sum <"$found" | cut -c1-32)" = "$md5" ] || complain "bytes differ: $path"
        # FAT keeps even seconds.
        [ $(($(stat -c %Y "$found") / 2)) -eq $((time / 2)) ] ||
            complain "time differs: $path $(stat -c %Y "$found") $time"
    done <"$IMAGES/fat.manifest"
    return $status
}
compare_carved() { # recovered folder
    local got
    got=$(find "$1" -type f ! -name '*.txt' -exec md5sum {} + | cut -c1-32 | sort)
    # Every picture came back whole.
    while read -r md5; do
        printf '%s\n' "$got" | grep -qx "$md5" || { echo "not carved whole: $md5" >&2 && return 1; }
    done <"$IMAGES/carve.manifest"
}

SOURCE_TITLE="^Select Source$"

# Reads the container of saved scans and debug logs on its own, apart from the
# program's loader: a byte chain over the file, the length twice, a zlib stream.
unpack() { # file, output
    python3 - "$1" "$2" <<'EOF'
import struct, sys, zlib
b = bytearray(open(sys.argv[1], "rb").read())
for i in range(len(b) - 1, 0, -1):
    b[i - 1] ^= b[i]
n, again = struct.unpack_from("<II", b)
data = zlib.decompress(bytes(b[8:]))
sys.exit(0 if n == again == len(data) and open(sys.argv[2], "wb").write(data) >= 0 else 1)
EOF
}
# HB_E2E_ONLY="update languages" runs only those sections (main, signals,
# update, languages).
wanted() { [ -z "${HB_E2E_ONLY:-}" ] || [[ " $HB_E2E_ONLY " == *" $1 "* ]]; }

# -- The main road ------------------------------------------------------------
main_road() {
say "wizard, deep scan, recovery of a FAT32 image"
start_halbrook
must "the wizard appears at start" appears "$SOURCE_TITLE" 30 || { cat "$WORK/halbrook.out" && return; }
shot "wizard-source-page"
check "F1 on the source page opens its help page" help_opens "$SOURCE_TITLE" WizardPageSource
driver_editor || return

choose_image "$SOURCE_TITLE" "$IMAGES/fat32.img"
shot "source-chosen"
keys "$SOURCE_TITLE" Return
must "the scan page follows" appears "^Scan$" || return
shot "scan-page"
must "a deep scan finds the volume" deep_scan "^Scan$" "Select Partition" || return
shot "file-system-page"
keys "^Select Partition$" alt+b
check "alt+B on the wizard's file-system page returns to the scan page" appears "^Scan$" 10
shot "back-on-scan-page"
must "Next lists the file systems again" deep_scan "^Scan$" "Select Partition" || return
structure_view || return
keys "^Select Partition$" Home Return
must "the tree is built and the tip shown" appears "^Information$" 60 || return
shot "tip"
acknowledge
shot "main-window-tree"
must "the marked root is recovered" recover_all "$WORK/out-fat" "fat" || return
check "every file of the FAT32 image came back with its bytes and time" compare_fat "$WORK/out-fat"

say "View File and help"
mark_opened
# The file list, past the folder tree, and in it the file by its name.
keys "^Halbrook 1.0$" Tab
type_text "^Halbrook 1.0$" "hello"
keys "^Halbrook 1.0$" Escape
shot "file-chosen"
keys "^Halbrook 1.0$" alt+v
# The copy goes to the desktop, or an Error box tells why not.
viewed_or_error() { [ -n "$(opened_since)" ] || window_now "^Error$"; }
wait_for 20 "View File to hand a file to the desktop" viewed_or_error
window_now "^Error$" && shot "view-file-error" && keys "^Error$" Return
viewed=$(opened_since | tail -n 1)
viewed_is_original() {
    [ -f "$viewed" ] && grep -q "^$(md5sum <"$viewed" | cut -c1-32) .* hello.txt$" "$IMAGES/fat.manifest"
}
check "View File hands a copy with the file's bytes to the desktop" viewed_is_original
check "F1 in the main window opens its help page" help_opens "^Halbrook 1.0$" MainFrame
german_properties
view_split_file
language_shots

say "Select Partition and Preferences"
keys "^Halbrook 1.0$" ctrl+p
check "Select Partition shows the file-system page" appears "^Select Partition$" 10
shot "select-partition"
keys "^Select Partition$" alt+b
settle
check "Select Partition's page has no Back: alt+B leaves it on the page" \
    eval 'appears "^Select Partition$" 1 && ! appears "^Scan$" 1'
keys "^Select Partition$" Escape && wait_gone "^Select Partition$"
keys "^Halbrook 1.0$" alt+f Down Return
check "File, Preferences opens its dialog" appears "^Preferences$" 10
shot "preferences"
keys "^Preferences$" Escape && wait_gone "^Preferences$"

say "found files on a carving image"
keys "^Halbrook 1.0$" ctrl+w
appears "$SOURCE_TITLE"
choose_image "$SOURCE_TITLE" "$IMAGES/carve.img"
keys "$SOURCE_TITLE" Return
appears "^Scan$"
must "a deep scan of the carving image finds files" deep_scan "^Scan$" "Select Partition" || return
shot "found-files-row"
# A new tree is asked for when one is shown already.
keys "^Select Partition$" End Return
wait_for 60 "the question for a new tree or the tip" window_now "^(Question|Information)$"
window_now "^Question$" && keys "^Question$" alt+y && wait_gone "^Question$"
must "the tree of found files is shown" appears "^Information$" 60 || return
acknowledge
shot "found-files-tree"
must "the found files are recovered" recover_all "$WORK/out-carved" "carved" || return
check "every picture of the carving image came back whole" compare_carved "$WORK/out-carved"

say "quit asks first, Save Scan, Save Debug"
keys "^Halbrook 1.0$" ctrl+q
must "Quit asks first" appears "^Question$" || return
shot "quit-with-unsaved-scan"
keys "^Question$" Return && wait_gone "^Question$" # No is the default
check "No keeps the program" appears "^Halbrook 1.0$" 3
keys "^Halbrook 1.0$" ctrl+s
appears "^Save File$"
enter_path "^Save File$" "$WORK/scan.bin" "save-scan"
appears "^Information$" 30 && shot "scan-saved" && acknowledge
check "the saved scan decompresses" unpack "$WORK/scan.bin" "$WORK/scan.raw"
check "the saved scan loads" quietly "$BUILD/hbprobe" analyze "type=file|id=$IMAGES/carve.img|ok=|" \
    --load "$WORK/scan.bin" --answer yes
keys "^Halbrook 1.0$" ctrl+d
appears "^Save File$"
enter_path "^Save File$" "$WORK/Halbrook.dbg"
wait_for 20 "the debug log in $WORK/Halbrook.dbg" quietly unpack "$WORK/Halbrook.dbg" "$WORK/debug.txt"
check "the saved debug log decompresses to the log" grep -q '^main(20): Halbrook' "$WORK/debug.txt"
keys "^Halbrook 1.0$" ctrl+q
appears "^Question$"
shot "quit-after-save"
keys "^Question$" Return && wait_gone "^Question$" # No
quit_in_german
}

# Sets the program language in Preferences: the dialog's title and the File
# menu's key in the language in force, then the moves in the language list
# (English, Deutsch, 日本語).
set_language() {
    local title=$1 file=$2
    shift 2
    keys "^Halbrook 1.0$" "$file" Down Return
    appears "$title" 10 || return 1
    keys "$title" alt+p "$@" alt+o
    wait_gone "$title"
    settle
}

# The FAT volume's file list in Japanese and in German, the window widened so
# that every column shows, then English again. The program started under
# C.UTF-8: GTK's own labels must follow the switch as well as ours.
language_shots() {
say "the file list in Japanese and German"
local id
id=$(wait_window "^Halbrook 1.0$")
xdotool windowsize --sync "$id" 1260 800
check "Preferences switches to Japanese" set_language "^Preferences$" alt+f Down Down
shot "japanese-file-list"
keys "^Halbrook 1.0$" F10
shot "japanese-menu"
keys "^Halbrook 1.0$" Escape
check "Preferences switches from Japanese to German" set_language "^設定$" alt+f Up
shot "german-file-list"
check "Preferences switches from German to English" set_language "^Einstellungen$" alt+d Up
xdotool windowsize --sync "$id" 800 600
settle
}

# The text of the window with that title, as the selection holds it once all
# of it is selected; the window is closed after.
selected_text() { # title
    keys "$1" ctrl+a && settle 10 && timeout 5 xclip -o -selection primary
    keys "$1" Escape && wait_gone "$1"
}
# Labels of the English dump (before ":", " {" or " [") that stand in the
# same line of the translated one.
english_labels() { # english file, translated file
    python3 - "$1" "$2" <<'EOF'
import re, sys
same = {"Flags", "Offset", "Index", "Version", "Name", "Link", "Status", "Cluster", "VCN"}
english = open(sys.argv[1], encoding="utf-8").read().splitlines()
translated = open(sys.argv[2], encoding="utf-8").read().splitlines()
found = []
for e, t in zip(english, translated):
    m = re.match(r"[\s-]*(.+?)(:\t|: | \{| \[)", e)
    if m and m.group(1) not in same and re.search("[a-z]", m.group(1)) and m.group(1) in t:
        found.append(m.group(1))
print("\n".join(found))
sys.exit(1 if found or not english else 0)
EOF
}
# Properties of a file in English and in German, and of a folder in German:
# every label of the German ones is German, and a folder shows no size it
# does not have. The file list has the keyboard, hello.txt at its cursor.
german_properties() {
say "Properties in German"
keys "^Halbrook 1.0$" alt+p
appears "^Properties$" 10 || { bad "Properties opens" && return; }
shot "properties"
selected_text "^Properties$" >"$WORK/properties-en.txt"
check "Preferences switches to German" set_language "^Preferences$" alt+f Down
# The list, filled anew in German, has its cursor on its first row.
type_text "^Halbrook 1.0$" "hello" && settle
keys "^Halbrook 1.0$" Escape alt+p
appears "^Eigenschaften$" 10 || { bad "Eigenschaften opens" && return; }
shot "german-properties"
selected_text "^Eigenschaften$" >"$WORK/properties-de.txt"
check "the German Properties of a file have no English label" \
    english_labels "$WORK/properties-en.txt" "$WORK/properties-de.txt"
type_text "^Halbrook 1.0$" "docs" && settle
keys "^Halbrook 1.0$" Escape alt+p
appears "^Eigenschaften$" 10 || { bad "Eigenschaften of a folder opens" && return; }
shot "german-folder-properties"
selected_text "^Eigenschaften$" >"$WORK/folder-de.txt"
folder_without_size() {
    grep -q docs "$WORK/folder-de.txt" && ! grep -q 18446744073709551615 "$WORK/folder-de.txt"
}
check "the German Properties of a folder show no size it does not have" folder_without_size
check "Preferences switches from German to English" set_language "^Einstellungen$" alt+d Up
}

# With the File Size Limit below a file's size, View File still hands the
# viewer the whole file, and no piece of it. The file list's cursor is on
# the folder docs.
view_split_file() {
say "View File of a file over the File Size Limit"
keys "^Halbrook 1.0$" alt+f Down Return
appears "^Preferences$" 10 || { bad "Preferences opens" && return; }
# From the temporary folder's field: the Drive Settings expander, opened (the
# dialog grows to show its fields, which Tab reaches only once they are laid
# out), then OEM Charset, Codepage and File Size Limit.
local id height
id=$(wait_window "^Preferences$")
height=$(window_height "$id")
keys "^Preferences$" alt+t Tab space
grown() { [ "$(window_height "$id")" -gt "$height" ]; }
wait_for 10 "Preferences to grow to its Drive Settings" grown && settle
keys "^Preferences$" Tab Tab Tab ctrl+a
type_text "^Preferences$" 100000
shot "preferences-file-size-limit"
keys "^Preferences$" Return
wait_gone "^Preferences$"
keys "^Halbrook 1.0$" Return && settle
type_text "^Halbrook 1.0$" "report" && settle
keys "^Halbrook 1.0$" Escape
mark_opened
keys "^Halbrook 1.0$" alt+v
wait_for 20 "View File to hand report.bin to the desktop" viewed_or_error
window_now "^Error$" && shot "view-split-file-error" && keys "^Error$" Return
viewed=$(opened_since | tail -n 1)
viewed_whole() {
    [ -f "$viewed" ] && [ ! -e "$viewed.v1" ] &&
        grep -q "^$(md5sum <"$viewed" | cut -c1-32) .* docs/report.bin$" "$IMAGES/fat.manifest"
}
check "View File over the File Size Limit hands the whole file and no piece" viewed_whole
}

# Switches to German and quits in German.
quit_in_german() {
say "quit after a switch to German"
must "Preferences switches to German" set_language "^Preferences$" alt+f Down || return
keys "^Halbrook 1.0$" F10
shot "german-menu"
keys "^Halbrook 1.0$" Escape ctrl+q
must "Quit asks in German" appears "^Frage$" || return
shot "german-quit-question"
# "_Ja" is GTK's own German for Yes: alt+J answers only when GTK's labels
# followed the switch ("_Yes" has no J).
keys "^Frage$" alt+j
finish_halbrook
check "alt+J (GTK's German Yes) on the quit question ends the program with 0" test $? -eq 0
# View File's copy of the user's file went with the program's own folder.
local viewed_folder
viewed_folder=$(printf '%s\n' "${viewed:-}" | grep -o '^.*/halbrook-[A-Za-z0-9]\{6\}')
check "Quit takes View File's folder and its copy away" test -n "$viewed_folder" -a ! -e "$viewed_folder"
}

# The Driver Editor from the source page's Advanced menu: a new driver, then
# a range driver, then a JBOD driver (the range rows must leave no gap).
driver_editor() {
keys "$SOURCE_TITLE" alt+a s n
must "Advanced, Software Drivers, New opens the Driver Editor" appears "^Driver Editor$" 10 || return
shot "driver-editor-new"
keys "^Driver Editor$" alt+t Down
shot "driver-editor-range"
keys "^Driver Editor$" Down
shot "driver-editor-jbod"
keys "^Driver Editor$" Escape
wait_gone "^Driver Editor$"
software_drivers
}
# The ID field of the Driver Editor as the selection holds it (the field is
# selected whole when it gets the keyboard).
editor_id() { keys "^Driver Editor$" alt+i && settle 10 && timeout 5 xclip -o -selection primary; }
# OK on the Driver Editor brought an Error box, which is answered, and the
# editor stays open with the keyboard on the field the error named.
refused() { # shot name
    appears "^Error$" 10 || return 1
    shot "$1"
    keys "^Error$" Return && wait_gone "^Error$" && window_now "^Driver Editor$"
}
# A RAID0 "r0" over the FAT32 image: a block size of 0 and one that is no
# multiple of the sector are refused; then a range "r0" is refused for its ID
# and taken as "r1"; Remove on the selected r1 leaves r0 as the last row.
software_drivers() {
say "software drivers"
keys "$SOURCE_TITLE" alt+a s n
appears "^Driver Editor$" 10 || { bad "New opens the Driver Editor" && return; }
keys "^Driver Editor$" alt+i ctrl+a
type_text "^Driver Editor$" "r0"
keys "^Driver Editor$" alt+t Down Down Down Tab
type_text "^Driver Editor$" "$IMAGES/fat32.img"
# Past Add Component to Block Size.
keys "^Driver Editor$" Tab Tab ctrl+a
type_text "^Driver Editor$" "0"
keys "^Driver Editor$" Return
check "a block size of 0 is refused and the editor stays" refused "driver-editor-block-size-0"
keys "^Driver Editor$" ctrl+a
type_text "^Driver Editor$" "1000"
keys "^Driver Editor$" Return
check "a block size that is no multiple of the sector is refused" \
    refused "driver-editor-block-size-1000"
keys "^Driver Editor$" ctrl+a
type_text "^Driver Editor$" "4096"
shot "driver-editor-raid0"
keys "^Driver Editor$" Return
check "a RAID0 of block size 4096 is taken" wait_gone "^Driver Editor$"

keys "$SOURCE_TITLE" alt+a s n
appears "^Driver Editor$" 10 || { bad "New opens the Driver Editor again" && return; }
keys "^Driver Editor$" alt+i ctrl+a
type_text "^Driver Editor$" "r0"
keys "^Driver Editor$" alt+t Down Tab
type_text "^Driver Editor$" "$IMAGES/fat32.img"
# Past Add Component and Offset to Size: the range ends inside the image.
keys "^Driver Editor$" Tab Tab Tab ctrl+a
type_text "^Driver Editor$" "4096"
keys "^Driver Editor$" Return
check "an ID in use is refused and the editor stays" refused "driver-editor-duplicate-id"
keys "^Driver Editor$" ctrl+a
type_text "^Driver Editor$" "r1"
keys "^Driver Editor$" Return
check "the range driver is taken as r1" wait_gone "^Driver Editor$"
shot "software-drivers"

# The new driver is the selected row: Remove takes it.
keys "$SOURCE_TITLE" alt+a s r && settle
keys "$SOURCE_TITLE" End alt+a s e
appears "^Driver Editor$" 10 || { bad "Edit opens the Driver Editor" && return; }
check "Remove took the selected r1 and left r0" test "$(editor_id)" = r0
keys "^Driver Editor$" Escape
wait_gone "^Driver Editor$"
}

# The structure view of the chosen volume, its Select FAT chooser and the dump
# of the FAT mirror.
structure_view() {
keys "^Select Partition$" Home alt+v
must "View File System opens the structure view" appears "^View File System$" 10 || return
shot "structure-view"
keys "^View File System$" alt+f
must "FATs asks which copy" appears "^Select FAT$" 10 || return
shot "select-fat"
keys "^Select FAT$" alt+m
check "FAT Mirror shows the dump of the mirror" appears "^FAT$" 10
shot "fat-mirror-dump"
keys "^FAT$" Escape
wait_gone "^FAT$"
keys "^View File System$" Escape
wait_gone "^View File System$"
}

# -- Ending by signals --------------------------------------------------------
signals() {
say "SIGTERM and SIGSEGV"
local signal status line
for signal in TERM:143:960 SEGV:139:74; do
    IFS=: read -r signal status line <<<"$signal"
    start_halbrook "dbg=$WORK/$signal.log"
    appears "$SOURCE_TITLE" 30
    kill -"$signal" "$HB_PID"
    finish_halbrook
    check "SIG$signal ends the program with $status" test $? -eq "$status"
    check "SIG$signal leaves its line in the log" grep -q "^MainFrame($line): " "$WORK/$signal.log"
done
check "the stack trace is in the log" grep -q '^MainFrame(74): Stack trace: 0x' "$WORK/SEGV.log"
}

# -- The update check ---------------------------------------------------------
update_check() {
say "update check"
mkdir -p "$WORK/www"
head -c 3000 /dev/urandom >"$WORK/www/halbrook-setup.bin"
cat >"$WORK/www/feed.xml" <<EOF
<rss><channel><item><enclosure version="Halbrook 9.0" url="http://127.0.0.1:PORT/halbrook-setup.bin"
 length="3000" releaseNotesUrl="http://127.0.0.1:PORT/notes.html"/></item></channel></rss>
EOF
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sed -i "s/PORT/$port/g" "$WORK/www/feed.xml"
python3 -m http.server --bind 127.0.0.1 --directory "$WORK/www" "$port" >"$WORK/http.log" 2>&1 &
PIDS+=($!)
feed_served() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
wait_for 20 "the feed server on port $port" feed_served
write_config "Update URL: http://127.0.0.1:$port/feed.xml"
mark_opened
start_halbrook
check "a newer version brings up the Update dialog" appears "^Update$" 30
shot "update-dialog"
keys "^Update$" Return
finish_halbrook
check "the program ends after starting the installer" test $? -eq 0
installer=$(opened_since | tail -n 1)
check "the installer is downloaded whole and opened" cmp -s "$installer" "$WORK/www/halbrook-setup.bin"
write_config
}

# -- German and Japanese ------------------------------------------------------
languages() {
local locale title question
for language in "de_DE.UTF-8:Quelle auswählen:Frage" "ja_JP.UTF-8:ソースを選択:質問"; do
    IFS=: read -r locale title question <<<"$language"
    say "$locale"
    if ! locale -a | grep -qix "${locale%%.*}.utf-\?8"; then
        bad "$locale: the locale is not installed (localedef -i ${locale%%.*} -f UTF-8 $locale)"
        continue
    fi
    LC_ALL=$locale start_halbrook
    check "$locale: the wizard speaks the language" appears "^$title$" 30
    shot "${locale%%_*}-wizard"
    keys "^$title$" Escape
    wait_gone "^$title$"
    keys "^Halbrook 1.0$" F10
    shot "${locale%%_*}-menu"
    keys "^Halbrook 1.0$" Escape Escape ctrl+q
    appears "^$question$" || echo "no window \"$question\"" >&2
    shot "${locale%%_*}-quit-question"
    kill -TERM "$HB_PID"
    finish_halbrook
done
}

wanted main && main_road
wanted signals && signals
wanted update && update_check
wanted languages && languages

say "screenshots in $SHOTS"
echo "end-to-end: $(($(date +%s) - START)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
