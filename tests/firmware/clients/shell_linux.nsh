@echo -off
# Linux with the Shell's console on our adapter (ConOut holds it, the
# firmware's Graphics Console draws through our Graphics Output);
# @VIDEO@ is the efifb option of this boot.
fs0:
echo "KT-CLIENT load"
load -nc KtVirt.efi
load -nc QuovanUga.efi
KtE2e.efi -console digital
echo "KT-CLIENT report"
KtClient.efi -report shell
echo "KT-CLIENT linux"
vmlinuz.efi initrd=\initrd.img console=ttyS0 efi=debug panic=-1 vt.global_cursor_default=0 video=efifb:@VIDEO@
echo "KT-CLIENT linux-returned"
reset -s
