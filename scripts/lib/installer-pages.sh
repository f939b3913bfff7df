# shellcheck shell=bash disable=SC2154  # work, version, display: set by the script and its helpers
# The installer's pages under Xvfb, driven with the keys a user presses and kept as screenshots
# with the texts each shows ("Completed" after a failure is a fault). Sourced by
# scripts/test-windows-installer after scripts/lib/windows-installer.sh; installer_pages is
# the entry point. The page being waited for and the screenshot count are kept here.

_shot=0
_ui_lost=""
_ui_pid=""

# page_texts PREFIX: what the visible windows say (titles and controls), one per line.
page_texts() { DISPLAY=$display wine_run "$1" 'C:\tools\windowtexts.exe' 2>/dev/null | tr -d '\r'; }

# wait_page PREFIX PATTERN: waits until a window says PATTERN (an extended regular expression);
# the texts end in $work/page.txt. After one page that never came, the others are not waited for.
wait_page() {
  local _
  [ -z "$_ui_lost" ] || return 1
  for _ in $(seq 60); do
    page_texts "$1" >"$work/page.txt"
    grep -qE "$2" "$work/page.txt" && return 0
    sleep 0.5
  done
  fail "no page saying '$2' (the windows say: $(tr '\n' '|' <"$work/page.txt"))"
  _ui_lost=1
  return 1
}

# shoot PREFIX ARTIFACTS NAME: a screenshot and the page's texts, kept as ARTIFACTS/NN-NAME.
shoot() {
  local name
  _shot=$((_shot + 1))
  name=$(printf '%02d-%s' "$_shot" "$3")
  sleep 0.5
  import -display "$display" -window root "$2/$name.png" 2>/dev/null || fail "no screenshot of $3"
  page_texts "$1" >"$2/$name.txt"
}

press() { DISPLAY=$display xdotool key "$@"; }

# interactive PREFIX PROGRAM ARGS...: starts an installer or uninstaller with its pages shown.
interactive() {
  DISPLAY=$display wine_run --timeout 0 "$@" >/dev/null 2>&1 &
  _ui_pid=$!
}

# finish_interactive EXPECTED WHAT: the program started last closes with exit code EXPECTED.
finish_interactive() {
  local status=0
  timeout 60 tail --pid="$_ui_pid" -f /dev/null || fail "$2 did not close"
  wait "$_ui_pid" || status=$?
  [ "$status" = "$1" ] || fail "$2 exits $status, expected $1"
}

# installer_pages PREFIX ARTIFACTS: every page of an install, a removal, a basic user's
# cancelled install and a failed install, shot into ARTIFACTS (emptied first).
installer_pages() {
  local p=$1 shots=$2
  rm -rf "$shots"
  mkdir -p "$shots"
  start_display
  # An install, page by page, with the keys a user presses.
  interactive "$p" 'C:\tools\setup.exe'
  wait_page "$p" 'Click Next to continue' && shoot "$p" "$shots" welcome && press Return
  wait_page "$p" 'I &Agree' && shoot "$p" "$shots" licence && press Return
  wait_page "$p" '&Just me' && shoot "$p" "$shots" install-mode && press Return
  wait_page "$p" 'Destination Folder' && shoot "$p" "$shots" folder && press Return
  wait_page "$p" '^  Installed$' && shoot "$p" "$shots" installed && press Return
  wait_page "$p" 'Disk Cleanup' && shoot "$p" "$shots" finish  # what happens next, and the thumbnail cache
  press Return
  finish_interactive 0 "the interactive setup"
  expect_installed "$p" HKLM "$machine_dir" "$version"
  # The uninstaller's pages.
  interactive "$p" 'C:\tools\runcommand.exe' "\"$machine_dir\\uninstall.exe\" _?=$machine_dir"
  wait_page "$p" '&Uninstall' && shoot "$p" "$shots" uninstall-confirm && press Return
  wait_page "$p" '^  Removed$' && shoot "$p" "$shots" uninstalled && press Return
  finish_interactive 0 "the interactive uninstaller"
  expect_absent "$p" HKLM "$machine_dir"
  # A user who is not an administrator: "everyone" is greyed, with the reason. Cancelling asks
  # first, and exits with 1.
  interactive "$p" 'C:\tools\runcommand.exe' --basic-user 'C:\tools\setup.exe'
  wait_page "$p" 'Click Next to continue' && press Return
  wait_page "$p" 'I &Agree' && press Return
  wait_page "$p" 'Only an administrator' && shoot "$p" "$shots" install-mode-basic-user && press Escape
  wait_page "$p" 'Stop the setup' && shoot "$p" "$shots" cancel && press Return
  finish_interactive 1 "a cancelled setup"
  expect_absent "$p" HKCU
  # A failed install: what it says, details hidden and shown; never "Completed".
  interactive "$p" 'C:\tools\broken-setup.exe'
  wait_page "$p" 'Click Next to continue' && press Return
  wait_page "$p" 'I &Agree' && press Return
  wait_page "$p" '&Just me' && press Return
  wait_page "$p" 'Destination Folder' && press Return
  if wait_page "$p" 'Setup failed'; then
    shoot "$p" "$shots" failed
    if grep -qi 'completed' "$work/page.txt"; then fail "a page says 'Completed' after a failure: $(grep -i completed "$work/page.txt")"; fi
    press alt+d
    sleep 1
    shoot "$p" "$shots" failed-details
    if grep -qi 'completed' "$shots/$(printf '%02d' "$_shot")-failed-details.txt"; then fail "the details say 'Completed' after a failure"; fi
  fi
  press Return
  finish_interactive 2 "the failed interactive setup"
  expect_absent "$p" HKLM "$machine_dir"
  wine_stop "$p"
  stop_display
  log "pages: $_shot screenshots in $shots"
}
