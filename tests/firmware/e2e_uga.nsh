@echo -off
# The UGA-Draw-only image on the model-backed KT270: the Graphics Console
# on UGA Draw, as EFI 1.10 firmware has it.
fs0:
echo "KT-E2E load"
load -nc KtVirt.efi
load -nc QuovanUgaDrawOnly.efi
echo "KT-E2E check"
KtE2e.efi
echo "KT-E2E drivers"
drivers
echo "KT-E2E devices"
echo "KT-E2E shutdown"
KtE2e.efi -shutdown
reset -s
