# shellcheck shell=bash disable=SC2034,SC2154  # constants for the script; work and stage: set by it
# Helpers of scripts/test-windows-installer: the installers and test programs it runs, prefixes
# that hold them, runs as users and deployment tools make them, and the checks of what an
# installation leaves. Sourced after scripts/lib/wine.sh. Every helper takes the prefix it
# works in as its first argument; the script sets $work and $stage (the installer's files).

clsid="{7A3C51E2-4B9D-4F06-9C18-2D5E8B0F6A47}"
class_name="KwbThumbDll.KwbThumbnailProvider Class"
handler_guid="{e357fccd-a995-4576-b01f-234630154e96}"
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\KwbThumb'
approved_key='Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved'
machine_dir='C:\Program Files\KwbThumb'

# prepare_installers WORK STAGE: in WORK/bin, this version's installer as setup.exe and two of
# other versions: older-setup.exe, whose DLLs are this version's with bytes appended (they
# register and differ; kept in WORK/older), and broken-setup.exe, whose 64-bit DLL is not a DLL
# (its registration fails after the 32-bit one succeeded); the test programs of
# tests/installer/ in WORK/helpers.
prepare_installers() {
  local work=$1 stage=$2 threads a
  make_installer() { # VERSION DLL64 DLL32 OUT
    makensis -V1 -WX -NOCD -DDLL64="$2" -DREGSERVER64="$stage/x64/regserver.exe" \
      -DDLL32="$3" -DREGSERVER32="$stage/x86/regserver.exe" -DLICENSE="$stage/LICENSE.txt" \
      -DNOTICES="$stage/THIRD-PARTY-NOTICES.txt" -DLICENSE_PAGE="$stage/licence-page.txt" \
      -DHELP="$stage/README.txt" -DVERSION="$1" -DOUTFILE="$4" packaging/windows/kwbthumb.nsi >/dev/null
  }
  mkdir -p "$work/older" "$work/bin" "$work/helpers"
  for a in x64 x86; do
    { cat "$stage/$a/RvtThumbDll.dll"; printf 'an older build'; } >"$work/older/$a.dll"
  done
  printf 'not a DLL' >"$work/broken.dll"
  make_installer 0.0.1 "$work/older/x64.dll" "$work/older/x86.dll" "$work/bin/older-setup.exe"
  make_installer 0.0.2 "$work/broken.dll" "$stage/x86/RvtThumbDll.dll" "$work/bin/broken-setup.exe"
  # The compilers scripts/build-windows installed: the toolchain file's thread model.
  threads=$(sed -n 's/^set(THUMB_MINGW_THREADS \([a-z0-9]*\))$/\1/p' cmake/mingw-w64.cmake)
  x86_64-w64-mingw32-gcc-"$threads" -O1 -municode -o "$work/helpers/holddll64.exe" tests/installer/HoldDll.c
  i686-w64-mingw32-gcc-"$threads" -O1 -municode -o "$work/helpers/holddll32.exe" tests/installer/HoldDll.c
  i686-w64-mingw32-gcc-"$threads" -O1 -o "$work/helpers/windowtexts.exe" tests/installer/WindowTexts.c
  i686-w64-mingw32-gcc-"$threads" -O1 -municode -o "$work/helpers/runcommand.exe" tests/installer/RunCommand.c
}

# make_pristine WORK PREFIX win64|win32: a fresh prefix with the installers and test programs
# in C:\tools, both thumbhosts in C:\tools\x64 and C:\tools\x86, and the samples in C:\docs.
make_pristine() {
  local work=$1 prefix=$2 tools=$2/drive_c/tools
  wine_prefix_new "$prefix" "$3"
  mkdir -p "$tools/x64" "$tools/x86"
  cp "$work/bin/"*.exe "$work/helpers/"*.exe "$tools/"
  cp "$(windows_built x64 thumbhost.exe)" "$tools/x64/"
  cp "$(windows_built x86 thumbhost.exe)" "$tools/x86/"
  cp samples/*.kwb "$prefix/drive_c/docs/" 2>/dev/null || true
  wine_wait "$prefix" || true
}

# fresh PRISTINE PREFIX: PREFIX as a new copy of PRISTINE, for one scenario.
fresh() {
  wine_stop "$2"
  rm -rf "$2"
  cp -a "$1" "$2"
  wine_prefix_track "$2"
}

# run [--basic-user] [--no-wait] EXPECTED PREFIX PROGRAM ARGS...: a run of setup or an
# uninstaller, its command line made as a user types it (arguments with spaces quoted, /D=
# and _?= never), whose exit code must be EXPECTED ("-": any). It waits until every process
# the run started has gone, unless --no-wait. --basic-user: with the token "runas /trustlevel"
# gives on Windows (Wine's user is an administrator).
run() {
  local option=() wait=true
  while :; do
    case "$1" in
      --basic-user) option=(--basic-user); shift ;;
      --no-wait) wait=false; shift ;;
      *) break ;;
    esac
  done
  local expected=$1 prefix=$2 line="" a status
  shift 2
  for a in "$@"; do
    if [[ "$a" == *" "* && "$a" != /D=* && "$a" != _\?=* ]]; then a="\"$a\""; fi
    line+="${line:+ }$a"
  done
  status=$({ wine_run "$prefix" 'C:\tools\runcommand.exe' "${option[@]}" "$line" || true; } 2>&1 | tr -d '\r' | sed -n 's/^exit code //p' | tail -1)
  if $wait; then wine_wait "$prefix" || fail "processes of $line still running"; fi
  [ "$expected" = - ] || [ "${status:-none}" = "$expected" ] || fail "$line exits ${status:-none}, expected $expected"
}

# winepath PREFIX WINDIR: the Linux path of WINDIR.
winepath() { wine_run "$1" winepath -u "$2" 2>/dev/null | tr -d '\r'; }
# user_dir_default PREFIX: where a per-user install goes by default.
user_dir_default() { wine_run "$1" cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r' | sed 's/$/\\Programs\\KwbThumb/'; }

# expect_installed PREFIX HIVE WINDIR VERSION: the registration of both DLLs in their views,
# the Approved entry, the uninstall entry and the files of VERSION's installation in WINDIR.
expect_installed() {
  local prefix=$1 hive=$2 dir=$3 version=$4 unix view dll entry v classes=$2\\Software\\Classes
  unix=$(winepath "$prefix" "$dir")
  for view in 64 32; do
    # Wine 8 keeps one per-user class tree for both views; Windows gives 32-bit processes their own.
    if [ "$view" = 32 ] && [ "$hive" = HKCU ] && ! reg_has "$prefix" "HKCU\\Software\\Classes\\Wow6432Node\\CLSID\\$clsid"; then
      continue
    fi
    dll="$dir\\RvtThumbDll.dll"
    [ "$view" = 64 ] || dll="$dir\\x86\\RvtThumbDll.dll"
    [ "$(reg_value "$prefix" "$classes\\CLSID\\$clsid\\InprocServer32" "(default)" "$view")" = "$dll" ] \
      || fail "$hive, $view-bit view: the server key does not name $dll"
    [ "$(reg_value "$prefix" "$classes\\CLSID\\$clsid" "(default)" "$view")" = "$class_name" ] \
      || fail "$hive, $view-bit view: no class key"
    # Windows shares the .kwb keys between the views (and Wine the machine's): the 32-bit view's
    # handler may be the shared key.
    [ "$(reg_value "$prefix" "$classes\\.kwb\\shellex\\$handler_guid" "(default)" "$view")" = "$clsid" ] \
      || [ "$(reg_value "$prefix" "$classes\\.kwb\\shellex\\$handler_guid" "(default)" 64)" = "$clsid" ] \
      || fail "$hive, $view-bit view: no handler key"
    [ "$(reg_value "$prefix" "$hive\\$approved_key" "$clsid" "$view")" = "$class_name" ] \
      || fail "$hive, $view-bit view: the handler is not in Shell Extensions\\Approved"
  done
  entry=$(reg_values "$prefix" "$hive\\$uninstall_key" 64)
  for v in "DisplayName=KwbThumb thumbnail handler" "DisplayVersion=$version" "Publisher=KwbThumb" \
    "InstallLocation=$dir" "DisplayIcon=$dir\\uninstall.exe,0" "URLInfoAbout=$dir\\README.txt" \
    "HelpLink=$dir\\README.txt"; do
    grep -qxF "$v" <<<"$entry" || fail "$hive uninstall entry: no $v (has: $(tr '\n' ';' <<<"$entry"))"
  done
  # shellcheck disable=SC2001  # a regular expression made of the folder name
  grep -qx "QuietUninstallString=\"$(sed 's/[\.*^$]/\\&/g' <<<"$dir")\\\\uninstall.exe\" /S .*" <<<"$entry" \
    || fail "$hive uninstall entry: no silent uninstall string for $dir"
  expect_estimated_size "$hive" "$entry" "$unix"
  for v in RvtThumbDll.dll regserver.exe x86/RvtThumbDll.dll x86/regserver.exe uninstall.exe LICENSE.txt THIRD-PARTY-NOTICES.txt README.txt; do
    [ -f "$unix/$v" ] || fail "$dir has no $v"
  done
  local x64=$stage/x64/RvtThumbDll.dll x86=$stage/x86/RvtThumbDll.dll
  [ "$version" != 0.0.1 ] || x64=$work/older/x64.dll x86=$work/older/x86.dll
  if ! cmp -s "$unix/RvtThumbDll.dll" "$x64" || ! cmp -s "$unix/x86/RvtThumbDll.dll" "$x86"; then
    fail "$dir does not hold the $version DLLs (both architectures)"
  fi
  [ "$(pe_fixed_versions "$unix/uninstall.exe" | cut -d' ' -f1)" = "$version.0" ] || fail "$dir\\uninstall.exe has no version resource $version"
}

# expect_estimated_size HIVE ENTRY DIR: the uninstall entry's EstimatedSize is the folder's files
# in KiB, each rounded down (so within a KiB a file), asides not counted.
expect_estimated_size() {
  local size bytes files
  size=$(sed -n 's/^EstimatedSize=0x//p' <<<"$2")
  bytes=$(find "$3" -type f ! -name '*.old' -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  files=$(find "$3" -type f ! -name '*.old' | wc -l)
  if [ -z "$size" ] || [ $((16#$size * 1024)) -gt "$bytes" ] || [ $(((16#$size + files) * 1024)) -lt "$bytes" ]; then
    fail "$1 uninstall entry: EstimatedSize ${size:+$((16#$size)) }KiB, the folder's files hold $bytes bytes"
  fi
}

# expect_absent PREFIX HIVE [WINDIR]: no registration, Approved entry or uninstall entry in HIVE,
# in either view; WINDIR gone.
expect_absent() {
  local prefix=$1 hive=$2 view key unix
  for view in 64 32; do
    for key in "$hive\\Software\\Classes\\CLSID\\$clsid" "$hive\\Software\\Classes\\.kwb\\shellex\\$handler_guid" "$hive\\$uninstall_key"; do
      if reg_has "$prefix" "$key" "$view"; then fail "$key ($view-bit view) is there"; fi
    done
    if reg_value "$prefix" "$hive\\$approved_key" "$clsid" "$view" >/dev/null; then fail "$hive, $view-bit view: the Approved entry is there"; fi
  done
  [ -n "${3:-}" ] || return 0
  unix=$(winepath "$prefix" "$3")
  [ ! -e "$unix" ] || fail "$3 is still there: $(find "$unix" | tr '\n' ' ')"
}

# thumbnails PREFIX yes|no: both hosts (64- and 32-bit) get a thumbnail of the sample through
# the machine's classes, or both get none. (Wine's HKEY_CLASSES_ROOT shows no per-user classes.)
thumbnails() {
  local prefix=$1 doc arch host s bits
  doc=$(find "$prefix/drive_c/docs" -maxdepth 1 -type f -printf '%f\n' | sort | head -1)
  [ -n "$doc" ] || return 0
  for arch in x64 x86; do
    host="C:\\tools\\$arch\\thumbhost.exe" s=0 bits=()
    [ "$arch" = x64 ] || bits=(--32)
    wine_run "${bits[@]}" "$prefix" "$host" -s 96 "C:\\docs\\$doc" 'C:\out\t.bmp' >/dev/null 2>&1 || s=$?
    if [ "$2" = yes ] && [ "$s" != 0 ]; then fail "$host gets no thumbnail (exit $s)"; fi
    if [ "$2" = no ] && [ "$s" != 1 ]; then fail "$host exits $s, expected 1 (no handler)"; fi
  done
}

# quiet_uninstall PREFIX HIVE [EXPECTED]: runs the recorded QuietUninstallString as a
# deployment tool does, and expects its exit code to be EXPECTED (default 0) with the work
# done when it returns.
quiet_uninstall() {
  local prefix=$1 hive=$2 expected=${3:-0} command status
  command=$(reg_value "$prefix" "$hive\\$uninstall_key" QuietUninstallString 64) || command=""
  [[ "$command" == *" /S "* ]] || { fail "$hive: QuietUninstallString '$command' is not silent"; return; }
  status=$({ wine_run "$prefix" 'C:\tools\runcommand.exe' "$command" || true; } 2>&1 | tr -d '\r' | sed -n 's/^exit code //p' | tail -1)
  # What a tool sees the moment the command returns: the handler is gone.
  if [ "$expected" = 0 ] && reg_has "$prefix" "$hive\\Software\\Classes\\CLSID\\$clsid" 64; then
    fail "$hive: the class key is still there when the silent uninstaller returns"
  fi
  wine_wait "$prefix" || true
  [ "${status:-none}" = "$expected" ] || fail "the silent uninstaller of $hive exits ${status:-none}, expected $expected"
}

# hold PREFIX DIR N: a 64-bit and a 32-bit process load DIR's two DLLs and keep them until
# C:\tools\release exists; their output in WORK/hold64-N.out and hold32-N.out.
hold() {
  local prefix=$1 out64=$work/hold64-$3.out out32=$work/hold32-$3.out _
  wine_run "$prefix" 'C:\tools\holddll64.exe' "$2\\RvtThumbDll.dll" 'C:\tools\release' >"$out64" 2>&1 &
  wine_run --32 "$prefix" 'C:\tools\holddll32.exe' "$2\\x86\\RvtThumbDll.dll" 'C:\tools\release' >"$out32" 2>&1 &
  for _ in $(seq 100); do
    grep -q held "$out64" && grep -q held "$out32" && return 0
    sleep 0.2
  done
  fail "the holders did not load the DLLs in $2"
}

# start_display: an Xvfb display of our own in $display (not in a subshell: stop_display needs
# its process id).
start_display() {
  local n
  for n in $(seq 120 160); do
    [ ! -e "/tmp/.X$n-lock" ] || continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    sleep 1
    if kill -0 "$xvfb_pid" 2>/dev/null; then display=":$n"; return; fi
  done
  die "no free display"
}
stop_display() {
  [ -n "${xvfb_pid:-}" ] || return 0
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=""
}
on_exit_call stop_display
