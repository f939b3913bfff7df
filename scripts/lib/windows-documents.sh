# shellcheck shell=bash
# The documents scripts/test-windows asks the DLL for, and the comparison of each thumbnail
# with kwbthumb's on Linux. Sourced after scripts/lib/wine.sh. prepare_documents keeps where
# the documents and kwbthumb's results are; the other functions read that.

_docs_work=""
_docs_kwbthumb=""
_docs_sizes=(32 96 256 1024)

# prepare_documents WORK MAKE_DOCUMENT KWBTHUMB MAX: at most MAX page-store documents in
# WORK/docs as docNN.kwb (their origins in WORK/documents.txt): the samples; documents from the
# test writer whose previews exercise the fit and centring (wide, tall, thin strips,
# near-square, large), zstd-coded and stored; then any other page-store file the repository
# holds, recognised by its magic. Also WORK/generated/largest.kwb, the largest preview a
# document may hold (16384 x 16384).
prepare_documents() {
  local work=$1 make_document=$2 max=$4 documents=() shape dims coding f i=0 name
  _docs_work=$work _docs_kwbthumb=$3
  mkdir -p "$work/docs" "$work/generated" "$work/linux"
  echo 0 >"$work/compared"
  mapfile -d '' -t committed < <(git ls-files -z -- samples)
  for f in "${committed[@]}"; do if cmp -s -n 3 "$f" <(printf hzd); then documents+=("$f"); fi; done
  for shape in 300x200 200x300 7x3 3x7 1x10 1000x999 1024x1 1x1024 64x64 2048x1536 \
    300x200-stored 333x77-stored; do
    dims=${shape%-stored}
    coding=()
    [ "$shape" = "$dims" ] || coding=(--stored)
    "$make_document" "$work/generated/pattern-$shape.kwb" --pattern "${dims%x*}" "${dims#*x}" "${coding[@]}" >/dev/null
    documents+=("$work/generated/pattern-$shape.kwb")
  done
  "$make_document" "$work/generated/largest.kwb" --pattern 16384 16384 >/dev/null
  mapfile -d '' -t committed < <(git ls-files -z -- tests fuzz)
  for f in "${committed[@]}"; do if cmp -s -n 3 "$f" <(printf hzd); then documents+=("$f"); fi; done
  for f in "${documents[@]:0:$max}"; do
    name=$(printf 'doc%02d.kwb' "$i")
    cp "$f" "$work/docs/$name"
    echo "$name $f" >>"$work/documents.txt"
    i=$((i + 1))
  done
}

# make_malformed_documents: documents in the work folder's bad/, cut and damaged from the first document
# that has a thumbnail, whose name it prints (nothing when none has one).
make_malformed_documents() {
  local bad=$_docs_work/bad name src length cut offset
  mkdir -p "$bad"
  for src in "$_docs_work/docs"/*; do
    name=${src##*/}
    if timeout 120 "$_docs_kwbthumb" --square -s 32 "$_docs_work/docs/$name" "$_docs_work/reference.bmp" 2>/dev/null; then
      break
    fi
    src=""
  done
  [ -n "$src" ] || return 0
  length=$(stat -c %s "$src")
  : >"$bad/empty.kwb"
  printf 'hzd' >"$bad/magic-only.kwb"
  printf 'PK\003\004 not a page store' >"$bad/other-format.kwb"
  for cut in 4 100 4096 65535 65536 131072 $((length / 2)) $((length - 1)); do
    if [ "$cut" -lt "$length" ]; then head -c "$cut" "$src" >"$bad/cut-$cut.kwb"; fi
  done
  for offset in 4 8 16 64 65536 65544 131072 $((length / 2)) $((length - 16)); do
    [ "$offset" -lt "$length" ] || continue
    cp "$src" "$bad/ff-at-$offset.kwb"
    head -c 16 /dev/zero | tr '\000' '\377' | dd of="$bad/ff-at-$offset.kwb" bs=1 seek="$offset" conv=notrunc status=none
  done
  { printf 'hzd\001'; head -c 200000 /dev/zero | tr '\000' '\377'; } >"$bad/magic-then-ff.kwb"
  echo "$name"
}

# compare_thumbnail PREFIX ARCH HOST NAME SIZE: kwbthumb on docs/NAME (or bad/NAME) and HOST
# (thumbhost, by its Windows path) under Wine on C:\docs\NAME; fails unless the exit statuses
# agree and, for a thumbnail, the BMP files are identical. Returns kwbthumb's exit status.
compare_thumbnail() {
  local prefix=$1 arch=$2 host=$3 name=$4 size=$5 label=$4
  local out=${name%.*}-$size.bmp linux_status=0 windows_status=0 origin linux src
  local windows=$prefix/drive_c/out/$out
  linux=$_docs_work/linux/$out
  origin=$(sed -n "s/^$name //p" "$_docs_work/documents.txt" 2>/dev/null) || true
  [ -z "$origin" ] || label="$name ($origin)"
  rm -f "$windows"
  if [ ! -e "$linux.status" ]; then
    src=$_docs_work/docs/$name
    [ -e "$src" ] || src=$_docs_work/bad/$name
    timeout 120 "$_docs_kwbthumb" --square -s "$size" "$src" "$linux" 2>/dev/null || linux_status=$?
    echo "$linux_status" >"$linux.status"
  fi
  linux_status=$(cat "$linux.status")
  wine_run "$prefix" "$host" -s "$size" "C:\\docs\\$name" "C:\\out\\$out" 2>/dev/null || windows_status=$?
  if [ "$linux_status" != "$windows_status" ]; then
    fail "$arch: $label at $size: kwbthumb exits $linux_status, thumbhost under Wine exits $windows_status"
  elif [ "$linux_status" = 0 ] && ! cmp -s "$linux" "$windows"; then
    fail "$arch: $label at $size: the BMP files differ ($(cmp "$linux" "$windows" 2>&1 | head -1))"
  elif [ "$linux_status" != 0 ] && [ -e "$windows" ]; then
    fail "$arch: $label at $size: thumbhost left an output file behind after exit $windows_status"
  fi
  return "$linux_status"
}

# _count_compared N: adds N to the thumbnails compared byte for byte.
_count_compared() { echo $(($(cat "$_docs_work/compared") + $1)) >"$_docs_work/compared"; }

# compare_all_thumbnails PREFIX ARCH HOST: every document at every size, the largest requests,
# then the malformed documents, which both sides must refuse alike.
compare_all_thumbnails() {
  local prefix=$1 arch=$2 host=$3 name size f status thumbnails=0 no_thumbnail=0 malformed=0
  log "$arch: thumbnails of $(wc -l <"$_docs_work/documents.txt") page-store documents at ${_docs_sizes[*]}"
  for f in "$_docs_work/docs"/*; do
    name=${f##*/}
    for size in "${_docs_sizes[@]}"; do
      status=0
      compare_thumbnail "$prefix" "$arch" "$host" "$name" "$size" || status=$?
      if [ "$status" = 0 ]; then thumbnails=$((thumbnails + 1)); fi
    done
  done
  [ "$thumbnails" -gt 0 ] || fail "$arch: no document gave a thumbnail on either side: nothing was compared"
  _count_compared "$thumbnails"
  compare_largest "$prefix" "$arch" "$host"
  [ -e "$_docs_work/bad/empty.kwb" ] || return 0
  cp "$_docs_work/bad"/* "$prefix/drive_c/docs/"
  for f in "$_docs_work/bad"/*.kwb; do
    for size in 32 256; do
      status=0
      compare_thumbnail "$prefix" "$arch" "$host" "$(basename "$f")" "$size" || status=$?
      malformed=$((malformed + 1))
      [ "$status" != 1 ] || no_thumbnail=$((no_thumbnail + 1))
    done
  done
  log "$arch: malformed documents: $no_thumbnail of $malformed requests gave no thumbnail on both sides"
  [ "$no_thumbnail" -gt 0 ] || fail "$arch: no malformed document was refused"
}

# compare_largest PREFIX ARCH HOST: 8192 squares of a large preview and of the largest one a
# document may hold (1 GiB of pixels, much of a 32-bit process's address space). Each must
# give kwbthumb's thumbnail or, should memory run out, a clean "no thumbnail"; never a crash.
# (The 271 MB document is linked into the prefix, not copied.)
compare_largest() {
  local prefix=$1 arch=$2 host=$3 large name status linux
  large=$(sed -n 's/^\([^ ]*\) .*pattern-2048x1536\.kwb$/\1/p' "$_docs_work/documents.txt")
  ln -sf "$_docs_work/generated/largest.kwb" "$prefix/drive_c/docs/largest.kwb"
  for name in $large largest.kwb; do
    linux=$_docs_work/large-$name
    if [ ! -e "$linux.status" ]; then
      status=0
      timeout 120 "$_docs_kwbthumb" --square -s 8192 "$prefix/drive_c/docs/$name" "$linux.bmp" 2>/dev/null || status=$?
      echo "$status" >"$linux.status"
    fi
    [ "$(cat "$linux.status")" = 0 ] || fail "kwbthumb gives no thumbnail of $name at 8192"
    status=0
    wine_run "$prefix" "$host" -s 8192 "C:\\docs\\$name" 'C:\out\large.bmp' 2>/dev/null || status=$?
    if [ "$status" = 0 ]; then
      cmp -s "$linux.bmp" "$prefix/drive_c/out/large.bmp" || fail "$arch: $name at 8192: the BMP files differ"
      _count_compared 1
    elif [ "$status" = 1 ]; then
      log "$arch: $name at 8192: no thumbnail (out of memory), cleanly"
    else
      fail "$arch: $name at 8192: thumbhost exits $status"
    fi
    rm -f "$prefix/drive_c/out/large.bmp"
  done
}
