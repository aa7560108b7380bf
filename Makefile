# The two commands of this project (see README.md):
#   make demo   installs what is missing, builds, and runs the demonstration
#   make test   installs what is missing, builds the linux, linux-asan, linux-tsan and windows presets, runs
#               every test (linux-tsan: those labelled tsan; linux: the real share outage, label outage,
#               when namespaces and FUSE mounts can be made) and a short libFuzzer run of each harness
#               over its seed corpus; a test that skips fails the run unless tests/allowed-skips.txt
#               names it (docs/testing.md)
#   make fuzz   a longer libFuzzer run (FUZZ_SECONDS per harness, default 300)
#   make soak   the integrity workload at length: SOAK_SEEDS seeds per fault mode (default 1000) and a
#               SOAK_MIB transfer (default 256), with a summary per part
#   make dist   the release presets and their packages (ZIP and MSI for Windows, .deb and .tar.gz for Linux)
# Both are idempotent: a second run installs nothing and rebuilds only what changed.

.PHONY: demo test soak dist test-package deps build-linux test-linux test-linux-asan test-linux-tsan test-windows test-outage build-fuzz test-fuzz fuzz

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
		$(GRIDCTL) settings set FileRetryWaitError 3 >/dev/null && \
		$(GRIDCTL) settings set NumRetriesOnAccessDenied 9 >/dev/null; fi
	@$(GRIDCTL) policy
	@$(GRIDCTL) drill '\\demo\share' --size 64
	@$(GRIDCTL) mkdir -p $(ROUND)'\archive'
	@$(GRIDCTL) put README.md $(ROUND)'\README.md'
	@$(GRIDCTL) cp $(ROUND)'\README.md' $(ROUND)'\copy.md'
	@$(GRIDCTL) mv $(ROUND)'\copy.md' $(ROUND)'\archive\moved.md'
	@$(GRIDCTL) ls $(ROUND)'\*.md'
	@$(GRIDCTL) stat $(ROUND)'\archive\moved.md'
	@$(GRIDCTL) rm -r $(ROUND)

# The security label's link-swap races report how many iterations each call survived.
RACES := $(CURDIR)/build/linux/security-races.txt

test-linux: deps
	@mkdir -p build/linux && rm -f $(RACES)
	GRIDTEST_RACE_SUMMARY=$(RACES) cmake --workflow --preset linux
	bash tests/check-skips.sh build/linux
	@echo "link-swap races (label security, $${GRIDTEST_RACE_SECONDS:-3} s per call):" && sed 's/^/  /' $(RACES)

test-linux-asan: deps
	cmake --workflow --preset linux-asan
	bash tests/check-skips.sh build/linux-asan

# ThreadSanitizer: only the programs labelled tsan (the system-call table and fault injector under
# concurrent calls among them), so that the whole tree need not be built a fourth time.
test-linux-tsan: deps
	cmake --workflow --preset linux-tsan
	bash tests/check-skips.sh build/linux-tsan

test-windows: deps
	cmake --workflow --preset windows
	bash tests/check-skips.sh build/windows

# The package label (install into a temporary prefix, the consumer project built and run against it,
# the DLLs' resources and exports, the event source under Wine, the settings and messages references)
# runs inside test-linux and test-windows with every other label; this runs it alone on built trees.
test-package: deps
	ctest --preset linux -L package
	ctest --preset windows -L package

# Release builds (stripped, debug files in build/<preset>/debug) and their archives, with size and
# sha256; not part of make test.
dist: deps
	cmake --workflow --preset linux-release
	cmake --workflow --preset windows-release
	cmake --build --preset windows-release --target msi
	@echo "archives:"
	@for f in build/linux-release/dist/*.deb build/linux-release/dist/*.tar.gz build/windows-release/dist/*.zip \
		build/windows-release/dist/*.msi; do \
		printf '  %-60s %9s bytes  sha256 %s\n' "$$f" "$$(stat -c %s "$$f")" "$$(sha256sum "$$f" | cut -d' ' -f1)"; \
	done
	@printf '  release GridApi.dll (stripped, as shipped): %s bytes\n' \
		"$$(cmake -E tar tvf build/windows-release/dist/*.zip | awk '/bin\/GridApi.dll$$/ {print $$5}')"

# The real share outage alone (part of test-linux): sshfs over sshd in a private network namespace.
test-outage: build-linux
	ctest --preset linux -L outage
	bash tests/check-skips.sh build/linux

# The libFuzzer harnesses of tests/fuzz, built by the main project with clang (preset linux-fuzz):
# name mapping, search patterns, the node-local settings file, gridctl's command line. Each run
# works on a scratch corpus under build/linux-fuzz and only reads the seeds in the tree.
FUZZ_HARNESSES := path match settings gridctl
FUZZ_SECONDS ?= 300
FUZZ_DIR := build/linux-fuzz

build-fuzz: deps
	cmake --preset linux-fuzz >/dev/null
	cmake --build --preset linux-fuzz

test-fuzz: build-fuzz
	@for h in $(FUZZ_HARNESSES); do \
		mkdir -p $(FUZZ_DIR)/work-$$h && \
		$(FUZZ_DIR)/bin/$$h-fuzz -runs=20000 -max_total_time=20 -artifact_prefix=$(FUZZ_DIR)/ $(FUZZ_DIR)/work-$$h tests/fuzz/corpus/$$h \
			>$(FUZZ_DIR)/$$h.log 2>&1 || { cat $(FUZZ_DIR)/$$h.log; exit 1; }; \
		echo "$$h-fuzz: $$(tail -1 $(FUZZ_DIR)/$$h.log)"; \
	done

fuzz: build-fuzz
	@for h in $(FUZZ_HARNESSES); do \
		mkdir -p $(FUZZ_DIR)/work-$$h && \
		$(FUZZ_DIR)/bin/$$h-fuzz -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=$(FUZZ_DIR)/ $(FUZZ_DIR)/work-$$h tests/fuzz/corpus/$$h || exit 1; \
	done

# The seeded integrity workload of tests/integrity under injected faults, at length (Linux build),
# then the link-swap races of the security label for SOAK_RACE_SECONDS per call.
SOAK_SEEDS ?= 1000
SOAK_MIB ?= 256
SOAK_RACE_SECONDS ?= 60

soak: deps
	@mkdir -p build
	@{ cmake --preset linux && cmake --build --preset linux --target grid-integrity-tests; } >build/soak-build.log 2>&1 || \
		{ cat build/soak-build.log; exit 1; }
	@start=$$(date +%s); \
	GRIDAPI_UNC_ROOT=$(CURDIR)/build/linux/unc GRIDTEST_SEEDS=$(SOAK_SEEDS) GRIDTEST_TRANSFER_MIB=$(SOAK_MIB) \
		build/linux/bin/grid-integrity-tests --gtest_filter='*IntegrityTest.*' >build/soak.log 2>&1; rc=$$?; \
	grep -E 'mismatches$$|\[  FAILED|: Failure$$' build/soak.log; \
	echo "soak: $$(( $$(date +%s) - start )) s, $$([ $$rc = 0 ] && echo 'passed: 0 mismatches' || echo 'FAILED (build/soak.log)')"; \
	[ $$rc = 0 ] || exit $$rc; \
	cmake --build --preset linux --target grid-security-tests >>build/soak-build.log 2>&1 || { cat build/soak-build.log; exit 1; }; \
	rm -f $(RACES); \
	GRIDTEST_RACE_SECONDS=$(SOAK_RACE_SECONDS) GRIDTEST_RACE_SUMMARY=$(RACES) ctest --preset linux -R LinkSwapTest >build/soak-races.log 2>&1; rc=$$?; \
	sed 's/^/  /' $(RACES); \
	echo "races: $$([ $$rc = 0 ] && echo 'passed: nothing outside the share changed' || echo 'FAILED (build/soak-races.log)')"; \
	exit $$rc

test: deps
	$(MAKE) --no-print-directory test-linux test-linux-asan test-linux-tsan test-windows test-fuzz
