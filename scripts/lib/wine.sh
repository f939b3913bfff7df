# shellcheck shell=bash
# Helpers shared by the Windows test scripts (scripts/test-windows*), sourced, never run.
# Each function takes what it works on as arguments; the only state kept here is the
# failure count of the report and what the exit trap must clean up.
#
#   report_init NAME            log / fail / note / die / failure_count / report_context / report_end
#   apt_ensure PACKAGE...       Debian packages, installed when missing (as root)
#   wine_setup x64|x86|both     Wine installed, its environment set (headless, quiet)
#   wine_prefix_new [--persistent] DIR win64|win32
#   wine_run [--32] [--timeout S] PREFIX PROGRAM ARGS...
#   wine_wait PREFIX [S] / wine_stop PREFIX      the Wine server of that prefix only
#   wine_regsvr32 [--32] PREFIX [/u] DLL
#   reg_value / reg_values / reg_has             `reg query` on a prefix's registry
#   pe_fixed_versions FILE / pe_version_strings FILE
#   windows_built ARCH NAME / linux_tool NAME   built files
#   on_exit_remove PATH / on_exit_call COMMAND   cleaned up when the script exits

# --- Report ----------------------------------------------------------------------------------
_report_name=""
_report_started=$SECONDS
_report_failures=0
_report_context=""
report_init() { _report_name=$1 _report_started=$SECONDS _report_failures=0; }
# report_context TEXT: what the failures that follow are prefixed with (a scenario's name).
report_context() { _report_context=$1; }
log() { echo "$_report_name: $*"; }
note() { echo "$_report_name: note: $*" >&2; }
fail() {
  echo "$_report_name: FAIL: ${_report_context:+$_report_context: }$*" >&2
  _report_failures=$((_report_failures + 1))
}
failure_count() { echo "$_report_failures"; }
# die MESSAGE: a failure that leaves nothing to test.
die() {
  echo "$_report_name: $*" >&2
  exit 1
}
# report_end [SUMMARY]: the total, and the exit status: 1 after any failure.
report_end() {
  local elapsed=$((SECONDS - _report_started))
  if [ "$_report_failures" -gt 0 ]; then
    echo "$_report_name: $_report_failures failure(s) in ${elapsed}s" >&2
    exit 1
  fi
  log "all passed in ${elapsed}s${1:+ ($1)}"
}

# --- Cleanup ---------------------------------------------------------------------------------
_exit_paths=()
_exit_calls=()
_exit_prefixes=()
on_exit_remove() { _exit_paths+=("$1"); }
on_exit_call() { _exit_calls+=("$1"); }
_on_exit() {
  local p
  for p in "${_exit_calls[@]}"; do $p || true; done
  for p in "${_exit_prefixes[@]}"; do wine_stop "$p"; done
  for p in "${_exit_paths[@]}"; do rm -rf "$p"; done
}
trap _on_exit EXIT

# --- Packages --------------------------------------------------------------------------------
# apt_ensure PACKAGE...: installs the packages that are missing (apt is shared: wait for its lock).
apt_ensure() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  log "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if [[ " ${missing[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "adding the i386 architecture"
    dpkg --add-architecture i386
    apt-get -o DPkg::Lock::Timeout=600 update -qq
  fi
  apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null 2>&1 || {
    apt-get -o DPkg::Lock::Timeout=600 update -qq
    apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  }
}

# --- Wine ------------------------------------------------------------------------------------
# wine_setup x64|x86|both: Wine for those architectures (64-bit Wine always: its wineserver
# serves both), headless and quiet. x86 is 32-bit Wine, from the i386 architecture.
wine_setup() {
  local packages=(wine64)
  [ "$1" = x64 ] || packages+=(wine32:i386)
  apt_ensure "${packages[@]}"
  _wine64=$(dpkg -L wine64 | grep -m1 '/wine64$')
  _wineserver=$(dirname "$_wine64")/wineserver
  _wine32=""
  [ "$1" = x64 ] || _wine32=$(dpkg -L wine32:i386 | grep -m1 '/wine/wine$')
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY WINEPREFIX WINEARCH
}

# wine_prefix_arch PREFIX: win64 or win32 (only a 64-bit prefix has a folder for 32-bit
# system files; its registry may still be only in a persistent server's memory).
wine_prefix_arch() { if [ -d "$1/drive_c/windows/syswow64" ]; then echo win64; else echo win32; fi; }

# wine_loader [--32] PREFIX: the loader for PREFIX (32-bit Wine for a 32-bit prefix, or with
# --32 for a 32-bit process in a 64-bit prefix).
wine_loader() {
  if [ "$1" = --32 ] || [ "$(wine_prefix_arch "${@: -1}")" = win32 ]; then
    echo "$_wine32"
  else
    echo "$_wine64"
  fi
}

# wine_prefix_track PREFIX: PREFIX's server is stopped when the script exits (a prefix copied
# from another, for one).
wine_prefix_track() { [[ " ${_exit_prefixes[*]} " == *" $1 "* ]] || _exit_prefixes+=("$1"); }

# wine_prefix_new [--persistent] DIR win64|win32: a fresh prefix, its server stopped when the
# script exits. --persistent keeps one server for every call that follows (faster; but then
# wine_wait waits for its timeout).
wine_prefix_new() {
  local persistent=false
  if [ "$1" = --persistent ]; then persistent=true; shift; fi
  local dir=$1 arch=$2 loader=$_wine64
  [ "$arch" = win64 ] || loader=$_wine32
  wine_prefix_track "$dir"
  log "creating a $arch Wine prefix in $dir"
  mkdir -p "$dir"
  WINEPREFIX=$dir WINEARCH=$arch timeout 300 "$loader" wineboot -i >"$dir.wineboot.log" 2>&1 \
    || { cat "$dir.wineboot.log" >&2; die "wineboot failed in $dir"; }
  rm -f "$dir.wineboot.log"
  if $persistent; then WINEPREFIX=$dir "$_wineserver" -p >/dev/null 2>&1 || true; fi
  mkdir -p "$dir/drive_c/docs" "$dir/drive_c/out"
}

# wine_run [--32] [--timeout S] PREFIX PROGRAM ARGS...: PROGRAM under Wine in PREFIX, its exit
# status returned; killed after S seconds (default 120; 0 for none), which is a failure.
wine_run() {
  local loader_option=() limit=120
  while :; do
    case "$1" in
      --32) loader_option=(--32); shift ;;
      --timeout) limit=$2; shift 2 ;;
      *) break ;;
    esac
  done
  local prefix=$1
  shift
  WINEPREFIX=$prefix timeout "$limit" "$(wine_loader "${loader_option[@]}" "$prefix")" "$@"
}

# wine_wait PREFIX [S]: waits until PREFIX's server has gone (every process of it ended).
wine_wait() { WINEPREFIX=$1 timeout "${2:-120}" "$_wineserver" -w; }
# wine_stop PREFIX: ends PREFIX's server and its processes; never any other prefix's.
wine_stop() {
  [ -n "$1" ] && [ -d "$1" ] || return 0
  WINEPREFIX=$1 timeout 60 "$_wineserver" -k >/dev/null 2>&1 || true
}

# wine_regsvr32 [--32] PREFIX [/u] DLL: registers (or with /u removes) DLL, silently; returns
# regsvr32's exit status.
wine_regsvr32() {
  local bits=()
  if [ "$1" = --32 ]; then bits=(--32); shift; fi
  local prefix=$1
  shift
  wine_run "${bits[@]}" "$prefix" regsvr32 /s "$@"
}

# --- Registry --------------------------------------------------------------------------------
# reg_values PREFIX KEY [32|64]: KEY's values as "name=data" lines, the default value as
# "(default)=", in the given registry view (default: the prefix's own).
reg_values() {
  local view=()
  [ -z "${3:-}" ] || view=("/reg:$3")
  wine_run "$1" reg query "$2" "${view[@]}" 2>/dev/null | tr -d '\r' \
    | sed -nE 's/^ {4}(.*) {4}REG_[A-Z_]+( {4}(.*))?$/\1=\3/p' | sed 's/^(Default)=/(default)=/'
}

# reg_value [--sz] [--retry] PREFIX KEY NAME [32|64]: the data of value NAME ("(default)" for
# the default value); fails when there is none. --sz: only a REG_SZ value counts. --retry:
# a read that finds nothing is made once more after the prefix's server has gone, and a
# second read that succeeds is reported with what the first one printed (once, in CI, the
# first reg.exe after a finished install found no value that every later read found).
reg_value() {
  local type='REG_[A-Z_]+' retry=false
  while :; do
    case "$1" in
      --sz) type=REG_SZ; shift ;;
      --retry) retry=true; shift ;;
      *) break ;;
    esac
  done
  local prefix=$1 key=$2 name=$3 view=() err out
  [ -z "${4:-}" ] || view=("/reg:$4")
  local query=(/v "$name")
  [ "$name" != "(default)" ] || query=(/ve)
  err=$(mktemp)
  local attempt
  for attempt in 1 2; do
    if out=$(wine_run "$prefix" reg query "$key" "${query[@]}" "${view[@]}" 2>"$err" | tr -d '\r' \
      | grep -m1 -E "^ {4}.* {4}$type( {4}|\$)"); then
      [ "$attempt" = 1 ] || note "reg query $key ${query[*]} ${view[*]} found nothing at first${first:+ ($first)}, then the value"
      rm -f "$err"
      sed -E "s/^ {4}.* {4}$type( {4})?//" <<<"$out"
      return 0
    fi
    $retry || break
    local first
    first=$(tr -d '\r' <"$err" | head -3)
    wine_wait "$prefix" || true
  done
  rm -f "$err"
  return 1
}

# reg_has PREFIX KEY [32|64]: whether KEY exists.
reg_has() {
  local view=()
  [ -z "${3:-}" ] || view=("/reg:$3")
  wine_run "$1" reg query "$2" "${view[@]}" >/dev/null 2>&1
}

# --- Windows files ---------------------------------------------------------------------------
# _rsrc FILE: the .rsrc section of a PE file, as bytes on stdout.
_rsrc() {
  local out
  out=$(mktemp)
  if i686-w64-mingw32-objcopy -O binary --only-section=.rsrc "$1" "$out" 2>/dev/null \
    || x86_64-w64-mingw32-objcopy -O binary --only-section=.rsrc "$1" "$out" 2>/dev/null; then
    cat "$out"
  fi
  rm -f "$out"
}

# pe_fixed_versions FILE: the file version and the product version of FILE's fixed version
# information (VS_FIXEDFILEINFO), "a.b.c.d a.b.c.d"; nothing when it has none.
pe_fixed_versions() {
  local b v hi lo versions=()
  # The signature 0xFEEF04BD, the structure's version, then each version as two little-endian
  # 32-bit words (major.minor, patch.build).
  read -r -a b <<<"$(_rsrc "$1" | od -An -v -tu1 | tr -s ' \n' ' ' | grep -oE '(^| )189 4 239 254( [0-9]+){20}' | head -1)"
  [ ${#b[@]} -ge 24 ] || return 0
  for v in 8 16; do
    hi=$((b[v] | b[v + 1] << 8 | b[v + 2] << 16 | b[v + 3] << 24))
    lo=$((b[v + 4] | b[v + 5] << 8 | b[v + 6] << 16 | b[v + 7] << 24))
    versions+=("$((hi >> 16)).$((hi & 65535)).$((lo >> 16)).$((lo & 65535))")
  done
  echo "${versions[*]}"
}

# pe_version_strings FILE: FILE's resources as text; the version strings are UTF-16, so
# without their zero bytes each name runs into its value ("FileVersion1.0.0").
pe_version_strings() { _rsrc "$1" | tr -d '\000'; }

# windows_built ARCH NAME: the path of NAME (RvtThumbDll.dll, thumbhost.exe ...) in the
# Windows build of ARCH (scripts/build-windows --arch ARCH); exits when it was not built.
windows_built() {
  local dir=build-windows path
  [ "$1" = x64 ] || dir="build-windows-x86"
  path=$(find "$dir" -name "$2" -type f -print -quit 2>/dev/null)
  [ -n "$path" ] || die "$1 $2 was not built"
  echo "$path"
}

# linux_tool NAME: builds NAME in the Linux build (build/ or THUMB_LINUX_BUILD) and prints its
# path; exits when it cannot.
linux_tool() {
  local build=${THUMB_LINUX_BUILD:-build} path
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ >/dev/null
  fi
  ninja -C "$build" "$1" >/dev/null || die "$1 did not build"
  path=$(find "$build" -name "$1" -type f -perm -u+x -print -quit)
  [ -n "$path" ] || die "$1 was not built"
  echo "$path"
}
