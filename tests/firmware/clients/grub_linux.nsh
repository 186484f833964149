@echo -off
# GRUB, then Linux, on the digital 1680x1050 monitor with our adapter
# started but not on ConOut, so that no firmware console draws through it.
# Between the two the driver is stopped and started again: when the
# kernel comes, nothing has drawn since Start.
fs0:
echo "KT-CLIENT load"
load -nc KtVirt.efi
load -nc QuovanUga.efi
KtE2e.efi -configure digital
echo "KT-CLIENT start"
KtClient.efi -start grub
echo "KT-CLIENT grub"
grubx64.efi
echo "KT-CLIENT restart"
KtClient.efi -restart linux
echo "KT-CLIENT linux"
vmlinuz.efi initrd=\initrd.img console=ttyS0 efi=debug panic=-1 vt.global_cursor_default=0
echo "KT-CLIENT linux-returned"
reset -s
