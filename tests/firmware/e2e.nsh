@echo -off
# End-to-end scenario on the model-backed KT270; the runner copies this to
# the ESP with CRLF line ends. load -nc: the check application connects.
fs0:
echo "KT-E2E load"
load -nc KtVirt.efi
load -nc QuovanUga.efi
echo "KT-E2E check"
KtE2e.efi -pictures
echo "KT-E2E after-check"
dh -p UGADraw
echo "KT-E2E console"
KtE2e.efi -console digital
echo "KT-E2E drivers"
drivers
echo "KT-E2E devices"
devices
echo "KT-E2E screen"
echo -on
KtE2e.efi -screen
echo -off
echo "KT-E2E reconnect"
KtE2e.efi -reconnect
echo "KT-E2E shutdown"
KtE2e.efi -shutdown
reset -s
