@echo -off
# Option-ROM run: the driver image comes from the ROM of an emulated PCI
# device, not from the ESP. Lists what the firmware made of it.
echo "KT-ROM drivers"
drivers
echo "KT-ROM done"
reset -s
