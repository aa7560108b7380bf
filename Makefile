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

# The demo's share \\demo\share and its settings database live in build/demo (made on first run).
DEMO := $(CURDIR)/build/demo
GRIDCTL := GRIDAPI_UNC_ROOT=$(DEMO)/unc build/linux/bin/gridctl --settings $(DEMO)/settings.db --log $(DEMO)/gridctl.log
ROUND := '\\demo\share\round'

demo: deps
	@mkdir -p $(DEMO)/unc/demo/share
	@{ cmake --preset linux && cmake --build --preset linux --target gridctl; } >$(DEMO)/build.log 2>&1 || \
		{ cat $(DEMO)/build.log; exit 1; }
	@if [ ! -f $(DEMO)/settings.db ]; then \
		$(GRIDCTL) settings set FileRetryWaitError 3 && $(GRIDCTL) settings set NumRetriesOnAccessDenied 9; fi
	@$(GRIDCTL) policy
	@$(GRIDCTL) drill '\\demo\share' --size 64
	@$(GRIDCTL) mkdir $(ROUND)
	@$(GRIDCTL) put README.md $(ROUND)'\README.md'
	@$(GRIDCTL) cp $(ROUND)'\README.md' $(ROUND)'\copy.md'
	@$(GRIDCTL) mkdir $(ROUND)'\archive'
	@$(GRIDCTL) mv $(ROUND)'\copy.md' $(ROUND)'\archive\moved.md'
	@$(GRIDCTL) ls $(ROUND)
	@$(GRIDCTL) stat $(ROUND)'\archive\moved.md'
	@$(GRIDCTL) rm -r $(ROUND)

test-linux: deps
	cmake --workflow --preset linux

test-linux-asan: deps
	cmake --workflow --preset linux-asan

test-windows: deps
	cmake --workflow --preset windows

test: deps
	$(MAKE) --no-print-directory test-linux test-linux-asan test-windows
