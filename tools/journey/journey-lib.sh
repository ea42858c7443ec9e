# Shared by scripts/demo and the journey test; sourced, not run. Needs root, build (the
# windows build folder), host (the host build folder) and, for the window, a Wine prefix.
ca=${QM_WINE_RUN:-/tmp/quillmere-wine-$(id -u)}/ca
windriver=$build/tools/qmwindriver.exe
started_at=$(date +%s)
step_at=$started_at
step_name=""
shots=0

# --- servers and releases --------------------------------------------------------------------

# The CDN (nginx, its access log in $state/access.log) and the identity service following the
# CDN's tree, each in a folder of $1.
start_servers() { # WORK
  local work=$1
  cdn_port=$("$root/tools/testservers/start-cdn" "$work/cdn") || return 1
  cdn_www=$work/cdn/www
  cdn_url=https://localhost:$cdn_port
  local accounts=$work/accounts.json
  cat > "$accounts" <<'JSON'
{ "accounts": [ { "login": "Rowan", "password": "correct horse battery staple", "state": "active" } ] }
JSON
  identity_port=$("$root/tools/identity-service/start-identity" "$work/identity" "$accounts" "$cdn_www") || return 1
  identity_url=https://localhost:$identity_port
  control_port=$(sed -n 's/^control=//p' "$work/identity/ports")
  releases_dir=$work/releases
}

make_release() { # N
  local launcher=$build/shell/Quillmere.exe
  [ "$1" = 1 ] || launcher=$build/shell/QuillmereNext.exe
  "$root/tools/journey/releases" make "$releases_dir" "$1" "$mib" "$cdn_url" "$identity_url" "$launcher" \
    "$build/game/QuillmereClient.exe" >/dev/null
}

# What a player downloads: the launcher and the release index it installs.
make_installer() { # FOLDER
  local folder=$1 id
  id=$(cat "$releases_dir/stage-1/identity")
  rm -rf "$folder"; mkdir -p "$folder/Client/pack"
  cp "$releases_dir/bin/launcher1.exe" "$folder/Quillmere.exe"
  cp "$releases_dir/stage-1/i/$id.quillmereindex" "$folder/Client/pack/release.quillmereindex"
  installer=$folder
}

# How many requests the identity service received at a path (its query left out).
service_count() { # PATH
  curl -sf --cacert "$ca/ca.pem" "https://localhost:$control_port/control/requests" |
    grep -o "\"path\":\"$1[?\"]" | wc -l
}

# The CDN's access log: its length, and the requests after a length.
cdn_requests() { wc -l < "$cdn_www/../access.log"; }
cdn_requests_since() { tail -n +"$(( $1 + 1 ))" "$cdn_www/../access.log"; }

# --- the Windows side --------------------------------------------------------------------

# Per-user places of the prefix.
local_appdata() { winepath -u "$(wine cmd /c 'echo %LOCALAPPDATA%' 2>/dev/null | tr -d '\r')" 2>/dev/null; }
winpath() { winepath -w "$1" 2>/dev/null; }
set_places() {
  local local_dir; local_dir=$(local_appdata)
  installed=$local_dir/Programs/Quillmere
  settings=$local_dir/Quillmere/Game/Quillmere.cfg
  local programs; programs=$(winepath -u "$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')" 2>/dev/null)
  shortcut="$programs/Microsoft/Windows/Start Menu/Programs/Quillmere.lnk"
}

write_settings() { mkdir -p "$(dirname "$settings")"; printf '%s\n' "$1" > "$settings"; }

drv() { wine "$windriver" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# This prefix's processes whose command line matches a pattern, and the launcher's.
prefix_pids() { # PATTERN
  local pid
  for pid in $(pgrep -f "$1" 2>/dev/null); do
    { tr '\0' '\n' < "/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
}
launcher_pids() { prefix_pids 'Quillmere(Next)?\.exe'; }
stop_launchers() { local pid; for pid in $(launcher_pids); do kill -9 "$pid" 2>/dev/null; done; }

start_launcher() { # no job notice when it is killed
  (cd "$installed" && exec wine "$installed/Quillmere.exe" </dev/null >/dev/null 2>&1) & launcher_job=$!
  disown "$launcher_job"
}
run_installer() { wine "$installer/Quillmere.exe" </dev/null >/dev/null 2>&1; }

wait_window() { drv wait 60000 >/dev/null; }
wait_for() { # SECONDS CONDITION
  local until=$(( $(date +%s) + $1 ))
  while [ "$(date +%s)" -lt "$until" ]; do eval "$2" && return 0; sleep 0.5; done
  return 1
}
wait_hidden() { wait_for 30 '[ "$(drv visible)" = 0 ]'; }
wait_visible() { wait_for 30 '[ "$(drv visible)" = 1 ]'; }
close_launcher() { drv close; wait_for 60 '! drv rect >/dev/null'; }

# One control's line of "qmwindriver list": id x y width height visible enabled "text".
control_line() { drv list | awk -v id="$1" '$1 == id'; }
control_text() { control_line "$1" | sed 's/^[^"]*"//; s/"$//'; }
click_control() {
  local line; line=$(control_line "$1")
  [ -n "$line" ] || fail "control $1 is not there"
  set -- $line
  drv click $(( $2 + $4 / 2 )) $(( $3 + $5 / 2 ))
}

# Types into the login and password boxes (an empty login leaves that box as it is) and
# presses Sign In.
sign_in() { # LOGIN PASSWORD
  if [ -n "$1" ]; then
    click_control 101; drv type "$1"
  fi
  click_control 103; drv type "$2"
  click_control 104
}

# The text of the next message box whose text is not PREVIOUS (an answered box takes a moment
# to go), waiting up to SECONDS.
next_dialog() { # PREVIOUS SECONDS
  local until=$(( $(date +%s) + $2 )) text
  while [ "$(date +%s)" -lt "$until" ]; do
    text=$(drv dialog 1000)
    [ -z "$text" ] || [ "$text" = "$1" ] || { printf '%s\n' "$text"; return 0; }
    sleep 0.3
  done
  return 1
}

# Every status line the window shows until one starts with a prefix; they are kept in
# $out/status.txt, step by step.
watch_status() { watch_control 108 "$@"; }
watch_control() { # ID SECONDS PREFIX...
  local id=$1 seconds=$2; shift 2
  printf '# %s: control %s until "%s"\n' "$step_name" "$id" "$*" >> "$out/status.txt"
  drv watch "$id" $(( seconds * 1000 )) "$@" | tee -a "$out/status.txt" > "$out/last-watch.txt"
  return "${PIPESTATUS[0]}"
}
watch_client() { # ID SECONDS PREFIX...
  local id=$1 seconds=$2; shift 2
  drv --class QuillmereClient wait "$(( seconds * 1000 ))" >/dev/null || return 1
  printf '# %s: the game client'"'"'s control %s\n' "$step_name" "$id" >> "$out/status.txt"
  drv --class QuillmereClient watch "$id" $(( seconds * 1000 )) "$@" | tee -a "$out/status.txt" >/dev/null
  return "${PIPESTATUS[0]}"
}
# Whether the last watch saw a line matching the extended regular expression.
seen() { grep -Eq "^$1" "$out/last-watch.txt"; }

# Flips one byte in piece P of the installed session container.
damage_piece() { # P
  local container
  container=$(ls "$installed"/Client/pack/session_*.quillmerepack)
  local at=$(( $1 * 1048576 + 1000 )) byte
  byte=$(od -An -tu1 -j "$at" -N1 "$container" | tr -d ' ')
  printf "\\$(printf %03o $(( (byte + 1) % 256 )))" | dd of="$container" bs=1 seek="$at" conv=notrunc status=none
}

# Whether the Credential Manager holds the launcher's sign-in.
stored_sign_in() {
  wine reg query 'HKCU\Software\Wine\Credential Manager' /s 2>/dev/null | tr -d '\r' | grep -q 'Quillmere/identity/'
}

# --- checks and records ------------------------------------------------------------------

fail() {
  printf 'journey: FAILED in step "%s": %s\n' "$step_name" "$*" >&2
  [ -f "$out/last-watch.txt" ] && { echo "journey: the last status lines:" >&2; tail -n 5 "$out/last-watch.txt" >&2; }
  shot failed >/dev/null 2>&1
  exit 1
}

step() {
  local now; now=$(date +%s)
  [ -z "$step_name" ] || printf '%-28s %4d s\n' "$step_name" $(( now - step_at )) | tee -a "$out/times.txt"
  step_name=$1 step_at=$now
  printf 'journey: %s\n' "$1"
  [ -n "${installed:-}" ] || set_places
}

shot() { # NAME
  shots=$(( shots + 1 ))
  import -display "$DISPLAY" -window root "$out/$(printf %02d "$shots")-$1.png" 2>/dev/null
}

expect_file() { [ -e "$1" ] || fail "$2 is missing: $1"; }
uninstall_value() { # NAME
  wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmere' /v "$1" 2>/dev/null |
    tr -d '\r' | awk -v name="$1" '$1 == name { sub(/^ *[^ ]+ +[^ ]+ +/, ""); print }'
}

# The installed game is release N byte for byte: every loose file and container of its
# description, the index, and nothing that the release dropped. release_is says why not in
# $why; verify_release fails the journey.
verify_release() { release_is "$1" || fail "$why"; }
release_is() { # N
  local n=$1 stage=$releases_dir/stage-$1 kind path source name
  why=""
  cmp -s "$installed/Client/pack/release.quillmereindex" "$stage/i/$(cat "$stage/identity").quillmereindex" ||
    why="the installed index is not release $n's"
  while [ -z "$why" ] && read -r kind path source _; do
    [ "$kind" = file ] || continue
    cmp -s "$installed/$path" "$releases_dir/$source" || why="$path is not release $n's"
  done < "$releases_dir/release$n.txt"
  for source in "$stage"/c/*.quillmerepack; do
    name=${source##*/}   # installed as KIND_{the identity's first 16 digits}.quillmerepack
    [ -n "$why" ] || cmp -s "$installed"/Client/pack/*_"${name:0:16}".quillmerepack "$source" ||
      why="container $name is not release $n's"
  done
  [ -n "$why" ] || [ "$(find "$installed/Client/pack" -maxdepth 1 -name '*.quillmerepack' | wc -l)" = "$(ls "$stage/c" | wc -l)" ] ||
    why="the installed containers are not release $n's three"
  if [ "$n" = 2 ]; then
    for path in Client/data/voices.bin Client/data/old.bin; do
      [ -n "$why" ] || [ ! -e "$installed/$path" ] || why="$path, which release 2 dropped, is still there"
    done
  fi
  [ -z "$why" ]
}

# --- a kill at a random moment of the update ---------------------------------------------

# Keeps the installed release 1 (its folder and the patch state) to go back to.
snapshot_install() { # FILE
  tar -C "$(dirname "$installed")" -cf "$1" Quillmere -C "$(dirname "$settings")" patch.state
}
restore_install() { # FILE
  rm -rf "$installed"
  tar -C "$(dirname "$installed")" -xf "$1" Quillmere
  tar -C "$(dirname "$settings")" -xf "$1" patch.state
  wine reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmere' /v DisplayVersion \
    /d "Quillmere 1.0" /f >/dev/null 2>&1
}

# Release 2 published, the launcher started and killed (every process of it, a hand-over's
# new launcher too) after a random part of SECONDS, then started again: it must end at
# release 2 whole, with release 2's launcher. The moments are kept in $out/kills.txt.
kill_trial() { # SECONDS
  local at=$(( RANDOM % ($1 * 10 + 1) ))
  "$here/releases" publish "$releases_dir" 2 "$cdn_www"
  start_launcher
  sleep "$(( at / 10 )).$(( at % 10 ))"
  stop_launchers
  wait_for 20 '[ -z "$(launcher_pids)" ]' || fail "the launcher did not end when killed"
  printf 'killed after %d.%d s\n' $(( at / 10 )) $(( at % 10 )) | tee -a "$out/kills.txt"
  start_launcher
  wait_for 300 'release_is 2 && cmp -s "$installed/Quillmere.exe" "$releases_dir/bin/launcher2.exe"' ||
    fail "after a kill at $(( at / 10 )).$(( at % 10 )) s the launcher did not reach release 2: $why"
  drv wait 60000 >/dev/null || fail "after a kill at $(( at / 10 )).$(( at % 10 )) s no launcher window came"
  close_launcher || fail "the launcher did not end on close after the kill trial"
  # A hand-over's other launcher may still be on its way out; none may write while the
  # install is put back.
  wait_for 20 '[ -z "$(launcher_pids)" ]' || fail "a launcher still runs after the kill trial: $(launcher_pids)"
}

# Back to release 1 installed and current.
unpublish_release_2() {
  rm -f "$cdn_www/i/$(cat "$releases_dir/stage-2/identity").quillmereindex" "$cdn_www/next"
}
