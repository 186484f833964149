# shellcheck shell=bash
# Sourced by check_e2e.sh for the default image: what KtE2e.efi -reconnect
# reported after the SCT's IHV Driver Binding passes (every handle
# disconnected, then connected recursively twice).
l=$(grep -F '"event":"reconnect"' "$debug" | tail -n 1)
expect "reconnect: our Stop was called on the controller" "$l" stops 1
expect "reconnect: our Stop returned EFI_SUCCESS every time" "$l" stops_failed 0
expect "reconnect: UGA Draw and Graphics Output gone after the disconnect" "$l" interfaces_gone_after_disconnect true
expect "reconnect: decoding off after the disconnect" "$l" decode_after_disconnect 0x0
at_least "reconnect: Start ran again after the Stop" "$l" starts_after_stop 1
expect "reconnect: every Start that ran succeeded" "$l" starts "$(field starts_ok "$l")"
expect "reconnect: UGA Draw back on the controller" "$l" uga true
expect "reconnect: Graphics Output back on the controller" "$l" gop true
# The console comes back on whichever face it takes then (it has been
# seen on UGA Draw after these passes); it draws through the driver.
consumers=$(( $(field gop_consumers "$l") + $(field uga_consumers "$l") ))
if [ "$consumers" -eq 1 ]; then
  pass "reconnect: the Graphics Console on our driver again (gop_consumers=$(field gop_consumers "$l"), uga_consumers=$(field uga_consumers "$l"))"
else
  fail "reconnect: $consumers consoles on our UGA Draw and Graphics Output, expected 1"
fi
expect "reconnect: the console's text written" "$l" output_status 0x0
at_least "reconnect: the monitor shows the console's text" "$l" changed 1
expect "reconnect: ... in its first text row only" "$l" outside 0
expect "reconnect: the monitor in sync" "$l" verdict "in sync"
echo "time  reconnect passes: $(field ms "$l") ms"
