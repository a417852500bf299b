#!/usr/bin/env bash
# The installer's checks under Wine, and the launcher it installs started as a
# player starts it. Run by scripts/test-installer.sh, once for each installer
# it builds, inside `unshare -rnm` (private loopback, private mounts) with
# these set: WINEPREFIX, HOME, WINE (the Wine loader of the installer's
# bitness), WINE64 (64-bit Wine, which makes the prefix), WINESERVER, setup
# (the installer), bin (the settings_probe.exe and installer_cancel.exe of the
# same bitness), release (the files an installation must hold), served (the
# served folder the installer carries), work (the locale), root (the source
# tree) and scratch.
set -uo pipefail
ip link set lo up

passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    echo "installer: FAILED: $what" >&2
    failed=$((failed + 1))
  fi
}

run() { timeout 120 "$WINE" "$@" >/dev/null 2>&1; }
# The launcher's settings code, as the launcher reads them.
probe() { (cd "$bin" && timeout 60 "$WINE" settings_probe.exe 2>/dev/null | tr -d '\r'); }
key_exists() { run reg query "$1"; }
settings_key='HKCU\Software\Quarvo\Glimmerhold'
apps_entry='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Glimmerhold'

echo "== creating the Wine prefix"
# A 64-bit prefix either way, as on 64-bit Windows: 32-bit programs run in it
# under WOW64.
timeout 120 "$WINE64" cmd /c exit 0 >/dev/null 2>&1 || { echo "Wine prefix could not be made" >&2; exit 1; }
timeout 120 "$WINE64" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f >/dev/null 2>&1
"$WINESERVER" -k 2>/dev/null
"$WINESERVER" -w 2>/dev/null

user=$(ls "$WINEPREFIX/drive_c/users" | grep -vx Public)
profile="$WINEPREFIX/drive_c/users/$user"
# Windows has this folder and this key from the start; a fresh Wine prefix
# does not.
mkdir -p "$profile/AppData/Local/Programs"
run reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall' /f
install="$profile/AppData/Local/Programs/Glimmerhold"
start_menu="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Glimmerhold.lnk"
desktop="$HOME/Glimmerhold.lnk"

# What an uninstall must give back: every file of the prefix and the home
# with its content, and the user hive. Left out as Wine's (or Windows') own:
# the Temp folder (the uninstaller runs from a copy there, which Windows
# deletes at the next start), the machine hives system.reg and userdef.reg,
# and in user.reg the save times and the keys Wine itself rewrites at each
# start (see `hive`). Also the web browser's own state, which the launcher
# run below leaves as any program showing a web page would: its cookie store,
# and the Internet Explorer and Internet Settings keys.
snapshot() {
  (cd "$scratch" && find prefix home \( -path "prefix/drive_c/users/$user/Temp" -o -path "$cookies" \) -prune -o \
    \( -name system.reg -o -name userdef.reg -o -name user.reg \) -prune -o -printf '%y %p %l\n' | sort)
  (cd "$scratch" && find prefix home \( -path "prefix/drive_c/users/$user/Temp" -o -path "$cookies" \) -prune -o \
    -type f ! -name '*.reg' -print0 | sort -z | xargs -0 md5sum)
  hive
}
cookies="prefix/drive_c/users/$user/AppData/Local/Microsoft/Windows/INetCookies"
# user.reg without save times, blank lines and the keys Wine refreshes itself.
hive() {
  sed -e '/^#time=/d' -e '/^$/d' -e 's/^\(\[.*\]\) [0-9]*$/\1/' "$WINEPREFIX/user.reg" |
    awk '/^\[/ { skip = ($0 ~ /^\[Software\\\\Wine\\\\|^\[Volatile Environment\]|^\[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\(Explorer\\\\|Internet Settings)|^\[Software\\\\Microsoft\\\\Internet Explorer/) } !skip'
}
# Every file of a folder with its content, relative names.
contents() { (cd "$1" && find . -type f ! -name Uninstall.exe -print0 | sort -z | xargs -0 md5sum); }

# A file beside the installation, which a list line naming "../decoy.txt"
# must not reach.
printf 'not the game\n' >"$profile/AppData/Local/Programs/decoy.txt"
before=$(snapshot)

echo "== installing silently (system language Spanish)"
LOCPATH="$work/locale" LANG=es_ES.UTF-8 run "$setup" /S
check "the first installation exits with 0" test $? -eq 0
check "every file of the release is installed as published" \
  diff <(contents "$release") <(contents "$install" | grep -v ' ./version_list.txt$')
check "the installed version list is the served one" cmp "$served/version_list.txt" "$install/version_list.txt"
check "the uninstaller is in place" test -f "$install/Uninstall.exe"
check "a Start menu shortcut" test -f "$start_menu"
check "a desktop shortcut" test -f "$desktop"
check "the Apps list entry" key_exists "$apps_entry"
read_back=$(probe)
check "the launcher reads the folder and the system's language" \
  test "$read_back" = "$(printf 'InstallPath=C:/users/%s/AppData/Local/Programs/Glimmerhold\nLanguage=es-ES' "$user")"

echo "== installing again over an older copy the launcher has added to"
# Older copies of carried files, listed as the launcher would list them; a
# file the launcher fetched into a folder of its own; the player's file.
token() { sha256sum "$1" | cut -c1-32; }
printf 'old launcher\n' >"$install/Launcher.exe"
printf 'old game\n' >"$install/Glimmerhold.exe"
printf 'changed\n' >"$install/data/maps/deepway.pak"
mkdir -p "$install/extras"
head -c 1000 /dev/urandom >"$install/extras/fetched.pak"
fetched_line="extras/fetched.pak $(token "$install/extras/fetched.pak") 1000"
for f in Launcher.exe Glimmerhold.exe data/maps/deepway.pak; do
  sed -i "s|^$f [0-9a-f]* [0-9]*\$|$f $(token "$install/$f") $(stat -c %s "$install/$f")|" "$install/version_list.txt"
done
printf 'DATA/Maps/DeepWay.pak %s 8\n' "$(token "$install/data/maps/deepway.pak")" >>"$install/version_list.txt"
# The file fetched last is recorded only in the list's journal, as a launcher
# that was killed leaves it.
python3 -c 'import sys, zlib; e = sys.argv[1]; sys.stdout.write("glimmerhold list journal 1\n%08x %s\n" % (zlib.crc32(e.encode()), e))' \
  "$fetched_line" >"$install/version_list.journal"
rm "$install/m$(printf '\xc3\xba')sica/"*
printf 'mine\n' >"$install/notes.txt"
run "$setup" /S /LANGUAGE=fr-FR
check "the second installation exits with 0" test $? -eq 0
check "every carried file is the release's again; nothing else changed" \
  diff <({ contents "$release"; printf '%s  ./extras/fetched.pak\n%s  ./notes.txt\n' \
    "$(md5sum <"$install/extras/fetched.pak" | cut -d' ' -f1)" "$(printf 'mine\n' | md5sum | cut -d' ' -f1)"; } | sort -k2) \
    <(contents "$install" | grep -v ' ./version_list.txt$' | sort -k2)
check "the list is the release's, then what the launcher fetched" \
  cmp <(cat "$served/version_list.txt"; echo "$fetched_line") "$install/version_list.txt"
check "the journal is folded into the list, and gone" test ! -e "$install/version_list.journal"
# Whatever the list names is on disk with the listed size and content.
check "every listed file is on disk as listed" python3 -c '
import hashlib, sys
for line in open(sys.argv[1], encoding="latin-1"):
    name, version, size = line.split()
    for escape, letter in (("%20", " "), ("%21", "!"), ("%f1", "ñ"), ("%e1", "á"), ("%e9", "é"),
                           ("%ed", "í"), ("%f3", "ó"), ("%fa", "ú")):
        name = name.replace(escape, letter)
    data = open(sys.argv[2] + "/" + name, "rb").read()
    if len(data) != int(size) or hashlib.sha256(data).hexdigest()[:32] != version:
        sys.exit("not as listed: " + name)
' "$install/version_list.txt" "$install"
check "the player's language is kept (fr-FR is not offered)" \
  test "$(probe | sed -n 's/^Language=//p')" = es-ES

echo "== a list that names what is not the game"
# For the uninstaller: a name outside the folder, and a line longer than it
# reads at once, whose rest is no line.
printf '../decoy.txt 00000000000000000000000000000000 13\n' >>"$install/version_list.txt"
printf '%snotes.txt 00000000000000000000000000000000 5\n' "$(head -c 1023 /dev/zero | tr '\0' a)" \
  >>"$install/version_list.txt"

echo "== while the launcher runs"
install_dir="C:\\users\\$user\\AppData\\Local\\Programs\\Glimmerhold"
(cd "$install" && exec timeout 300 "$WINE" Launcher.exe) >/dev/null 2>&1 &
launcher_pid=$!
# Until the launcher holds its installation (bounded: a start takes seconds).
for _ in $(seq 60); do
  run "$bin/glimmerhold_files.exe" in-use "$install_dir"
  [ $? -eq 1 ] && break
done
# The launcher's log may grow meanwhile: it is the launcher's to write.
kept=$(contents "$install" | grep -v -E ' \./Launcher(\.old)?\.log$')
run "$setup" /S
check "the installer cancels with exit code 4" test $? -eq 4
run "$install/Uninstall.exe" /S "_?=$install_dir"
check "the uninstaller cancels with exit code 4" test $? -eq 4
check "nothing is changed" test "$(contents "$install" | grep -v -E ' \./Launcher(\.old)?\.log$')" = "$kept"
check "still registered" test "$(key_exists "$settings_key"; echo $?)$(key_exists "$apps_entry"; echo $?)" = 00
# Only this script's own prefix: its processes are the launcher's.
"$WINESERVER" -k 2>/dev/null
wait "$launcher_pid" 2>/dev/null
# The game: a program that runs until it is ended, in Glimmerhold.exe's
# place. The launcher does, while the settings are gone: it shows its
# installation-error box and waits, without the installation's lock.
cp "$install/Launcher.exe" "$install/Glimmerhold.exe"
run reg delete "$settings_key" /v InstallPath /f
(cd "$install" && exec timeout 300 "$WINE" Glimmerhold.exe) >/dev/null 2>&1 &
game_pid=$!
for _ in $(seq 60); do
  run "$bin/glimmerhold_files.exe" in-use "$install_dir"
  [ $? -eq 1 ] && break
done
run "$install/Uninstall.exe" /S "_?=$install_dir"
check "while the game runs, the uninstaller cancels with exit code 4" test $? -eq 4
check "the game is in place" cmp "$install/Launcher.exe" "$install/Glimmerhold.exe"
"$WINESERVER" -k 2>/dev/null
wait "$game_pid" 2>/dev/null
run reg add "$settings_key" /v InstallPath /t REG_SZ /d "$install_dir" /f
# What a launcher leaves in the middle of its work: each working file, a
# note naming the side file of the download in flight, and side files in a
# folder of the release and in one of the launcher's own.
for f in version_list.txt.tmp version_list.journal Launcher.exe.tmp Launcher.exe.new Launcher.lock version_release.txt \
  version_release.txt.tmp Launcher.log Launcher.old.log; do
  printf 'working\n' >"$install/$f"
done
side="m$(printf '\xc3\xba')sica/0123456789abcdef.ghpart"
printf 'part\n' >"$install/$side"
printf '%s\n' "$side" >"$install/download_in_progress.txt"
printf 'part\n' >"$install/data/maps/fedcba9876543210.ghpart"
printf 'part\n' >"$install/extras/00112233445566ff.ghpart"
# Folders the launcher made for files of a newer release it had not fetched.
mkdir -p "$install/dlc/maps" "$install/dlc/music"

echo "== installing a second time elsewhere"
run "$setup" /S '/D=C:\Elsewhere'
code=$?
check "refused with exit code 3, nothing placed" test "$code$(test -e "$WINEPREFIX/drive_c/Elsewhere"; echo $?)" = 31
check "the first installation stays registered" test "$(probe | sed -n 's/^InstallPath=//p')" = \
  "C:/users/$user/AppData/Local/Programs/Glimmerhold"

echo "== uninstalling silently"
run "$install/Uninstall.exe" /S
"$WINESERVER" -w
check "only the player's file is left: the list line too long to read at once removed nothing" \
  test "$(cd "$install" && find . | sort | tr '\n' ' ')" = ". ./notes.txt "
rm -f "$install/notes.txt"
rmdir "$install" 2>/dev/null
check "the launcher finds no installation" test "$(probe >/dev/null; echo $?)" = 1
# The launcher ran in this prefix: it sets no engine mode for the programs
# named Launcher.exe (its page declares its own), which every other such
# program would read.
check "the launcher wrote no FEATURE_BROWSER_EMULATION value" test "$(
  run reg query 'HKCU\Software\Microsoft\Internet Explorer\Main\FeatureControl\FEATURE_BROWSER_EMULATION' \
    /v Launcher.exe
  echo $?)" = 1
check "the prefix is as it was" diff <(echo "$before") <(snapshot)

echo "== a folder that cannot be written"
mkdir -p "$WINEPREFIX/drive_c/ReadOnly"
mount --bind "$WINEPREFIX/drive_c/ReadOnly" "$WINEPREFIX/drive_c/ReadOnly" &&
  mount -o remount,bind,ro "$WINEPREFIX/drive_c/ReadOnly"
run "$setup" /S '/D=C:\ReadOnly\Glimmerhold'
check "refused with exit code 2" test $? -eq 2
check "nothing registered" test "$(key_exists "$settings_key"; echo $?)$(key_exists "$apps_entry"; echo $?)" = 11
umount "$WINEPREFIX/drive_c/ReadOnly"

echo "== a folder that already holds the player's files"
mkdir -p "$WINEPREFIX/drive_c/Games/Screenshots"
printf 'mine\n' >"$WINEPREFIX/drive_c/Games/notes.txt"
printf 'notes.txt 00000000000000000000000000000000 5\n' >"$WINEPREFIX/drive_c/Games/version_list.txt"
run "$setup" /S '/D=C:\Games'
check "installed beside them" test -f "$WINEPREFIX/drive_c/Games/Launcher.exe"
check "a list found there is not taken for an installation" \
  cmp "$served/version_list.txt" "$WINEPREFIX/drive_c/Games/version_list.txt"
# Whatever a list there names later, the uninstaller leaves the player's files.
printf 'notes.txt 00000000000000000000000000000000 5\n' >>"$WINEPREFIX/drive_c/Games/version_list.txt"
run 'C:\Games\Uninstall.exe' /S
"$WINESERVER" -w
check "the uninstaller leaves the player's file, folder and empty folder alone" \
  test "$(cd "$WINEPREFIX/drive_c/Games" && find . | sort | tr '\n' ' ')" = ". ./Screenshots ./notes.txt "

echo "== a folder outside the ANSI code page"
polish=$(printf '\xc5\x81ukasz')  # "Łukasz"
run "$setup" /S "/D=C:\\users\\$polish\\Games\\Glimmerhold"
check "installed (exit code 0)" test $? -eq 0
check "the files are in the folder named" test -f "$WINEPREFIX/drive_c/users/$polish/Games/Glimmerhold/Launcher.exe"
# The launcher's settings code must read the name back unchanged. Until its
# registry reads are wide (UTF-16) calls it gets the ANSI code page's stand-in
# for the letter ("L" for "Ł", best fit): reported as pending; anything
# else is a failure.
read_back=$(probe | sed -n 's/^InstallPath=//p')
if [ "$read_back" = "C:/users/Lukasz/Games/Glimmerhold" ]; then
  echo "installer: PENDING: the launcher reads \"$read_back\" (ANSI registry reads)"
else
  check "the launcher reads the folder back (got \"$read_back\")" \
    test "$read_back" = "C:/users/$polish/Games/Glimmerhold"
fi
run "C:\\users\\$polish\\Games\\Glimmerhold\\Uninstall.exe" /S
"$WINESERVER" -w
check "uninstalled" test ! -e "$WINEPREFIX/drive_c/users/$polish/Games/Glimmerhold"

echo "== cancelled on the first page"
timeout 120 "$WINE" "$setup" >/dev/null 2>&1 &
setup_pid=$!
(cd "$bin" && timeout 90 "$WINE" installer_cancel.exe "Glimmerhold Setup" >/dev/null 2>&1)
check "Cancel was pressed" test $? -eq 0
wait "$setup_pid"
check "the installer exits with 1" test $? -eq 1
check "nothing installed or registered" \
  test "$(test -e "$install"; echo $?)$(key_exists "$settings_key"; echo $?)$(key_exists "$apps_entry"; echo $?)" = 111

echo "== the launcher, started from its Start menu shortcut"
LOCPATH="$work/locale" LANG=es_ES.UTF-8 run "$setup" /S
check "installed again (exit code 0)" test $? -eq 0
shortcut=$(python3 "$root/tests/installer/shortcut_target.py" "$start_menu")
target=$(sed -n 1p <<<"$shortcut")
installed="C:\\users\\$user\\AppData\\Local\\Programs\\Glimmerhold"
check "the shortcut starts the installed launcher (\"$target\")" test "$target" = "$installed\\Launcher.exe"
check "in its folder" test "$(sed -n 2p <<<"$shortcut")" = "$installed"
# The launcher page host: nginx on port 80 of this namespace, as for the
# demo, with its log of requests. No page ever arrives here (Wine has no HTML
# engine), so what the launcher asks for is all there is to see.
mkdir -p "$scratch/www" "$scratch/nginx"
printf '<!DOCTYPE html>\n<title>Glimmerhold</title>\n' >"$scratch/www/instalador.php"
sed -e "s|@RUN@|$scratch/nginx|g" -e "s|@ROOT@|$scratch/www|g" "$root/demo/nginx.conf.in" >"$scratch/nginx/nginx.conf"
nginx -c "$scratch/nginx/nginx.conf" &
nginx_pid=$!
for _ in $(seq 1 100); do
  curl -sf -o /dev/null http://127.0.0.1/instalador.php && break
  sleep 0.05
done
page_requests() { grep -c 'GET /instalador\.php?lang=' "$scratch/nginx/nginx-access.log"; }
before_start=$(page_requests)
(cd "$install" && exec "$WINE" "$target" >/dev/null 2>&1) &
launcher_pid=$!
# Bounded: a minute at most.
for _ in $(seq 1 600); do
  [ "$(page_requests)" -gt "$before_start" ] && break
  kill -0 "$launcher_pid" 2>/dev/null || break
  sleep 0.1
done
check "the launcher read the installation and asked for the page in the player's language" \
  grep -q '"GET /instalador\.php?lang=es HTTP/1\.[01]"' "$scratch/nginx/nginx-access.log"
# A second start on the same installation finds the first one's lock.
asked=$(page_requests)
(cd "$install" && timeout 120 "$WINE" "$target" >/dev/null 2>&1) &
second_pid=$!
box=$(cd "$bin" && timeout 90 "$WINE" installer_cancel.exe "Glimmerhold Updater" 2>/dev/null | tr -d '\r')
check "a second start says \"The launcher is already running.\" (got \"$box\")" \
  test "$box" = "The launcher is already running."
wait "$second_pid"
check "and ends with exit code 0" test $? -eq 0
check "the first launcher is still running" kill -0 "$launcher_pid"
check "the second one asked for no page" test "$(page_requests)" -eq "$asked"
{
  kill -KILL "$launcher_pid"
  wait "$launcher_pid"
  kill "$nginx_pid"
  wait "$nginx_pid"
} 2>/dev/null

"$WINESERVER" -k 2>/dev/null
echo "installer: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
