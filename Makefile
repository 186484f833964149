# Two entry points, each doing its own set-up on a fresh Debian 12 machine:
#   make demo   builds everything and runs the main job
#   make test   builds everything and runs every test (host, sanitizers, OVMF)
#   make fuzz   builds the fuzz targets and runs each for FUZZ_SECONDS
#   make bench  the first SetMode under both start-up policies, as figures
.PHONY: all setup build host efi test demo fuzz bench clean

FUZZ_SECONDS ?= 300

all: build

setup:
	@scripts/setup.sh

host: setup
	@cmake --preset host >/dev/null
	@cmake --build --preset host

efi: setup
	@cmake --preset efi >/dev/null
	@cmake --build --preset efi

# The option ROMs wrap the EFI image, so they come after both trees.
build: host efi
	@cmake --build --preset host --target quovan_roms

test: build
	@ctest --preset host

demo: build
	@scripts/demo.sh

fuzz: setup
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@scripts/fuzz.sh $(FUZZ_SECONDS)

bench: host
	@build/host/bin/startup_bench

clean:
	rm -rf build
