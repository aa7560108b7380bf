# The two commands of this project (see README.md):
#   make demo   installs what is missing, builds, and runs the demonstration
#   make test   installs what is missing, builds the linux, linux-asan, linux-tsan and windows presets, runs
#               every test (linux-tsan: those labelled tsan)
# Both are idempotent: a second run installs nothing and rebuilds only what changed.

.PHONY: demo test deps build-linux test-linux test-linux-asan test-linux-tsan test-windows

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

# ThreadSanitizer: only the programs labelled tsan (the system-call table and fault injector under
# concurrent calls among them), so that the whole tree need not be built a fourth time.
test-linux-tsan: deps
	cmake --workflow --preset linux-tsan

test-windows: deps
	cmake --workflow --preset windows

test: deps
	$(MAKE) --no-print-directory test-linux test-linux-asan test-linux-tsan test-windows
