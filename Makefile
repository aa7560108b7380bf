# The two commands of this project (see README.md):
#   make demo   installs what is missing, builds, and runs the demonstration
#   make test   installs what is missing, builds the linux, linux-asan and windows presets, runs every test
# Both are idempotent: a second run installs nothing and rebuilds only what changed.

.PHONY: demo test deps build-linux test-linux test-linux-asan test-windows

deps:
	@bash tools/fetch-deps.sh

build-linux: deps
	cmake --preset linux >/dev/null
	cmake --build --preset linux

demo: build-linux
	GRIDAPI_UNC_ROOT=$(CURDIR)/build/linux/unc build/linux/bin/grid-demo

test-linux: deps
	cmake --workflow --preset linux

test-linux-asan: deps
	cmake --workflow --preset linux-asan

test-windows: deps
	cmake --workflow --preset windows

test: deps
	$(MAKE) --no-print-directory test-linux test-linux-asan test-windows
