#!/usr/bin/env bash
# Asserts the runs of ovmf_clients.sh (Debian's GRUB and Linux on our
# Graphics Output) in its work directory, boot by boot: what the clients
# printed against what the driver itself reported at run time (KtClient.efi
# on the debug console), the model's monitor, the kernel's memory map and
# the frame buffers saved from guest memory. "quote" lines give the
# clients' own lines as they printed them.
#   check_clients.sh WORKDIR
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/ovmf_lib.sh"
top=${1:?usage: check_clients.sh WORKDIR}

# json EVENT TAG: the last JSON line of that event with that tag.
json() { grep -F "\"event\":\"$1\",\"tag\":\"$2\"" "$debug" 2>/dev/null | tail -n 1; }
# driver_list TAG: the driver's modes as "INDEX:WxH:PITCHBYTES", one a line.
driver_list() {
  local m
  grep -F "\"event\":\"client_mode\",\"tag\":\"$1\"" "$debug" | while IFS= read -r m; do
    echo "$(field index "$m"):$(field mode "$m"):$(($(field pitch "$m") * 4))"
  done
}
quote() { sed 's/^/quote /'; }
same_list() {  # WHAT GOT WANT
  if [ -n "$3" ] && [ "$2" = "$3" ]; then pass "$1: $(echo $3)"
  else fail "$1: '$(echo $2)', the driver's list is '$(echo $3)'"; fi
}

# memory_map WHAT BASE SIZE: the kernel's EFI memory map (efi=debug) has one
# entry over [BASE, BASE+SIZE) and it is not usable RAM; the e820 map too.
memory_map() {
  local what=$1 base=$(($2)) size=$(($3)) entry="" line lo hi type
  while IFS= read -r line; do
    lo=$(sed -n 's/.*range=\[\(0x[0-9a-f]*\)-.*/\1/p' <<< "$line")
    hi=$(sed -n 's/.*range=\[0x[0-9a-f]*-\(0x[0-9a-f]*\)\].*/\1/p' <<< "$line")
    [ -n "$lo" ] && [ $((lo)) -le "$base" ] && [ $((hi)) -ge $((base + size - 1)) ] && entry=$line
  done < <(grep -E 'efi: mem[0-9]+: \[' "$console")
  type=$(sed -n 's/.*efi: mem[0-9]*: \[\([^|]*\)|.*/\1/p' <<< "$entry" | sed 's/ *$//')
  if [ -z "$entry" ]; then fail "$what: no EFI memory map entry holds the frame buffer (efi=debug)"
  elif [ "$type" = Reserved ]; then pass "$what: the frame buffer lies in a Reserved entry of the kernel's EFI memory map"
  else fail "$what: the frame buffer lies in a '$type' entry of the kernel's EFI memory map"; fi
  [ -n "$entry" ] && echo "$entry" | quote
  entry=""
  while IFS= read -r line; do
    lo=$(sed -n 's/.*\[mem \(0x[0-9a-f]*\)-.*/\1/p' <<< "$line")
    hi=$(sed -n 's/.*\[mem 0x[0-9a-f]*-\(0x[0-9a-f]*\)\].*/\1/p' <<< "$line")
    [ -n "$lo" ] && [ $((lo)) -le "$base" ] && [ $((hi)) -ge $((base + size - 1)) ] && entry=$line
  done < <(grep -E 'BIOS-e820: \[mem ' "$console")
  if [ "${entry##* }" = reserved ]; then pass "$what: and the e820 map the kernel built says reserved"
  else fail "$what: the kernel's e820 map has the frame buffer as '${entry##* }'"; fi
  [ -n "$entry" ] && echo "$entry" | quote
}

# kernel WHAT WxH PITCHBYTES BASE: efifb on the frame buffer the driver
# reported, without complaint; the memory map; the saved frame buffer
# holds the kernel's console text; the kernel powered off.
kernel() {
  local what=$1 mode=$2 pitch=$3 base=$4 l info
  l=$(grep -E 'efifb: framebuffer at ' "$console" | head -n 1)
  if [ "$(sed -n 's/.*framebuffer at \(0x[0-9a-f]*\),.*/\1/p' <<< "$l")" = "$(printf '0x%x' $((base)))" ]; then
    pass "$what: efifb's frame buffer is the driver's FrameBufferBase $base"
  else
    fail "$what: efifb's frame buffer is not FrameBufferBase $base: '${l:-no efifb line}'"
  fi
  l=$(grep -E 'efifb: mode is ' "$console" | head -n 1)
  if grep -Fq "efifb: mode is ${mode}x32, linelength=$pitch," <<< "$l"; then
    pass "$what: efifb drives ${mode}x32 at the driver's pitch, $pitch bytes"
  else
    fail "$what: efifb's mode is not ${mode}x32, linelength=$pitch: '${l:-no efifb line}'"
  fi
  if grep -Fq 'efifb: cannot reserve video memory' "$console"; then fail "$what: efifb could not reserve the frame buffer"
  else pass "$what: efifb reserved the frame buffer without complaint"; fi
  grep -E 'efifb: |Console: switching' "$console" | quote
  memory_map "$what" "$base" $((pitch * ${mode#*x}))
  info=$work/linux.info
  if [ -f "$info" ]; then
    local ink first
    ink=$(awk '$1 == "ink" { print $2 }' "$info")
    first=$(awk '$1 == "ink_rows" { print $2 }' "$info")
    if [ "${ink:-0}" -ge 2000 ] && [ "${first:--1}" -ge 0 ] && [ "$first" -lt 32 ]; then
      pass "$what: the frame buffer saved after the kernel wrote its console holds its text ($ink pixels of ink from row $first; $work/linux.png)"
    else
      fail "$what: the saved frame buffer does not hold the kernel's text (ink ${ink:-?}, first row ${first:-?})"
    fi
  else
    fail "$what: no frame buffer saved after the kernel wrote its console ($info missing)"
  fi
  expect_powered_off
}

# ---- GRUB, then Linux set-up A ---------------------------------------------
echo "---- GRUB, and Linux with our adapter started but not on ConOut (set-up A)"
checks_begin "$top/grub-linux"
l=$(json client_start grub)
expect "our driver started alone (Supported, Start)" "$l" status 0x0
gop=$(json client_gop grub)
expect "QEMU without a display adapter: ours is the only Graphics Output" "$gop" gop_handles 1
expect "no console driver opened our Graphics Output" "$gop" gop_consumers 0
list=$(driver_list grub)
echo "info  the driver's list: $(echo $list)"

# videoinfo FROM TO: the mode lines of GRUB's videoinfo between two
# markers, as "mark index width height pitch" (mark "=*" on the mode in
# force, "=" on the others)
videoinfo() {
  between "$1" "$2" | sed -n -E 's/^([* ]) 0x([0-9a-f]+) +([0-9]+) x +([0-9]+) x 32 \(([0-9]+)\).*/=\1 \2 \3 \4 \5/p'
}
# GRUB lists as pitch the width times 4, whatever PixelsPerScanLine says
# (it draws at the true pitch: the picture check below shows it), so the
# lists are compared by number and size.
grub_modes() { while read -r _ i w h _; do echo "$((16#$i)):${w}x$h"; done; }
if grep -Fq "KT-GRUB exit" "$console"; then pass "GRUB ran its script and returned to the Shell"
else fail "GRUB did not come back to the Shell"; fi
before=$(videoinfo "KT-GRUB videoinfo" "KT-GRUB gfxterm")
same_list "GRUB's videoinfo lists exactly the driver's modes" "$(grub_modes <<< "$before")" "$(cut -d: -f1,2 <<< "$list")"
between "KT-GRUB videoinfo" "KT-GRUB gfxterm" | grep -E '^(Adapter|[* ] 0x|  EDID|    Preferred|    No preferred)' | quote
after=$(videoinfo "KT-GRUB text" "KT-GRUB picture")
same_list "under gfxterm the numbering is the same" "$(grub_modes <<< "$after")" "$(cut -d: -f1,2 <<< "$list")"
current=$(awk '$1 == "=*" { print $3 "x" $4 }' <<< "$after")
if [ "$current" = 1680x1050 ]; then pass "gfxmode=auto with gfxterm: GRUB's mode in force is 1680x1050"
else fail "gfxmode=auto with gfxterm: GRUB's mode in force is '${current:-none marked}', not 1680x1050"; fi
between "KT-GRUB gfxterm" "KT-GRUB text" | grep -F 'GOP:' | quote
if between "KT-GRUB videoinfo" "KT-GRUB picture" | grep -Fq 'Preferred mode: 1680x1050'; then
  pass "GRUB read the EDID from our handle: preferred mode 1680x1050"
else
  fail "GRUB found no EDID with a preferred 1680x1050 on our handle"
fi
between "KT-GRUB text" "KT-GRUB picture" | grep -E '^(\* 0x|  EDID|    Preferred)' | quote
l=$(json picture grub)
expect "GRUB's text: the monitor is in sync" "$l" verdict "in sync"
expect "GRUB's text: the monitor shows 1680x1050" "$l" size 1680x1050
expect "GRUB's text: not scaled" "$l" scaled false
at_least "GRUB's text: ink on the monitor, not black" "$l" ink 2000
expect "GRUB's text: what GRUB wrote to the frame buffer is what the monitor shows" "$l" unscaled_equals_memory true
got=$(awk '$1 == "hash" { print $2 }' "$work/grub.info" 2>/dev/null)
if [ -n "$got" ] && [ "$got" = "$(field hash "$l")" ]; then pass "GRUB's picture saved from guest memory is the model's (hash $got; $top/grub.png)"
else fail "GRUB's picture saved from guest memory (${got:-none}) is not the model's $(field hash "$l")"; fi

l=$(json client_start linux)
expect "Linux (A): the driver stopped and started again" "$l" status 0x0
gop=$(json client_gop linux)
mon=$(json client_monitor linux)
expect "Linux (A): no console driver on our Graphics Output" "$gop" gop_consumers 0
expect "Linux (A): mode 0 in force from Start" "$gop" mode 0
expect "Linux (A): the monitor in sync before the kernel starts" "$mon" verdict "in sync"
expect "Linux (A): at 1680x1050" "$mon" shows 1680x1050
expect "Linux (A): nothing drawn since Start (the surface is black)" "$mon" surface_ink 0
same_list "Linux (A): the same list after the restart" "$(driver_list linux)" "$list"
if grep -Fq 'Available graphics modes' "$console"; then fail "Linux (A): the EFI stub was not to list modes"
else pass "Linux (A): the EFI stub left the mode in force (no video= option)"; fi
fb=$(field fb_base "$gop") pitch=$(($(field pitch "$gop") * 4))
if [ "$(field surface_offset "$mon")" != "" ] && [ $(($(field bar0 "$gop") + $(field surface_offset "$mon"))) -eq $((fb)) ] &&
   [ "$(field pitch_bytes "$mon")" = "$pitch" ]; then
  pass "Linux (A): FrameBufferBase and the pitch are where and how CRTC $(field crtc "$mon") fetches"
else
  fail "Linux (A): FrameBufferBase $fb pitch $pitch, but the CRTC fetches from BAR 0 + $(field surface_offset "$mon") at $(field pitch_bytes "$mon")"
fi
kernel "Linux (A)" "$(field info "$gop")" "$pitch" "$fb"

# ---- Linux set-up B ----------------------------------------------------------
echo "---- Linux with the Shell console on our adapter (set-up B), video=efifb:list"
checks_begin "$top/linux-list"
gop=$(json client_gop shell)
expect "the Shell console on our Graphics Output" "$gop" gop_consumers 1
list=$(driver_list shell)
stub=$(sed -n -E 's/^Mode +([0-9]+) ([* ])([- ]): Resolution ([0-9]+)x([0-9]+)-.*/\1 =\2 \4 \5/p' "$console")
same_list "video=efifb:list prints exactly the driver's list" "$(while read -r i _ w h; do echo "$i:${w}x$h"; done <<< "$stub")" \
  "$(cut -d: -f1,2 <<< "$list")"
marked=$(awk '$2 == "=*" { print $1 }' <<< "$stub")
if [ -n "$marked" ] && [ "$marked" = "$(field mode "$gop")" ]; then pass "video=efifb:list marks the mode in force, $marked"
else fail "video=efifb:list marks '${marked:-none}' as current, Mode->Mode is $(field mode "$gop")"; fi
grep -E '^(Available graphics modes|Mode +[0-9]+ )' "$console" | quote

echo "---- Linux with the Shell console on our adapter (set-up B), video=efifb:auto"
checks_begin "$top/linux-auto"
gop=$(json client_gop shell)
native=$(driver_list shell | awk -F: '$2 == "1680x1050" { print $3; exit }')
kernel "Linux (B)" 1680x1050 "${native:-0}" "$(field fb_base "$gop")"

checks_end
