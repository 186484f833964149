# Two entry points, each doing its own set-up on a fresh Debian 12 machine:
#   make demo   builds everything and runs the main job
#   make test   builds everything and runs every test (host, sanitizers, OVMF)
.PHONY: all setup build host efi test demo clean

all: build

setup:
	@scripts/setup.sh

host: setup
	@cmake --preset host >/dev/null
	@cmake --build --preset host

efi: setup
	@cmake --preset efi >/dev/null
	@cmake --build --preset efi

build: host efi

test: build
	@ctest --preset host

demo: build
	@scripts/demo.sh

clean:
	rm -rf build
