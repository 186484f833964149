# Two entry points, each doing its own set-up on a fresh Debian 12 machine:
#   make demo   builds everything and runs the main job
#   make test   builds everything and runs every test (host, sanitizers, OVMF)
#   make fuzz   builds the fuzz targets and runs each for FUZZ_SECONDS
#   make bench  the first SetMode under both start-up policies, as figures
#   make sign KEY=key.pem CERT=cert.pem
#               signs the driver images with that key (and builds the ROMs
#               around them); without KEY and CERT, with the build's test key
.PHONY: all setup build host efi test demo fuzz bench sign clean

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

sign: setup
	@cmake --preset efi -DQUOVAN_SIGN_KEY=$(if $(KEY),$(abspath $(KEY))) \
	  -DQUOVAN_SIGN_CERT=$(if $(CERT),$(abspath $(CERT))) >/dev/null
	@cmake --build --preset efi
	@cmake --preset host >/dev/null
	@cmake --build --preset host --target quovan_roms pecheck
	@build/host/bin/pecheck --verify build/efi/signing/signer.pem build/efi/QuovanUga.signed.efi | tail -n 4

bench: host
	@build/host/bin/startup_bench

clean:
	rm -rf build
