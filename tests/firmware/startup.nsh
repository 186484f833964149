@echo -off
# Smoke scenario; the runner copies this to the ESP with CRLF line ends.
# load -nc: the check application does the connecting.
fs0:
echo "KT-SMOKE load"
load -nc KtFakePci.efi
load -nc QuovanUga.efi
echo "KT-SMOKE check"
KtCheck.efi -noreset
echo "KT-SMOKE drivers-after"
drivers
echo "KT-SMOKE shutdown"
KtCheck.efi -shutdown
reset -s
