# make deps: install the packages the build and the tests need.
# make build: build with what is installed (installs nothing).
# make test: install what is missing, build, run every test.
# make run:  install what is missing, build, start dncpanel on its built-in
#            simulated controller.
# make package: the Debian package and the Windows zip, into $(BUILD)/.
# make test SANITIZE=1: the same with AddressSanitizer and
#            UndefinedBehaviorSanitizer (in build-sanitize/), halting on the
#            first report, in the test programs and every program they start.
# make windows: cross-builds the 64-bit Windows programs and filelink.dll
#            (in build-windows/) with mingw-w64.
# make test-windows: the same, then runs their unit tests under wine in a
#            private wine prefix (build-windows/wineprefix).
# make fuzz: runs every fuzz target for FUZZ_SECONDS (default 60) with
#            libFuzzer (clang, in build-fuzz/) and keeps what they found in
#            tests/fuzz/corpus/, which `make test` replays.
SANITIZE ?= 0
ifeq ($(SANITIZE),1)
BUILD ?= build-sanitize
else
BUILD ?= build
endif
JOBS ?= 2
SUDO := $(if $(filter 0,$(shell id -u)),,sudo)

PACKAGES := cmake make g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
            qt6-base-dev qt6-base-dev-tools g++-mingw-w64-i686 binutils-mingw-w64-i686 \
            xvfb xauth \
            dpkg-dev file desktop-file-utils groff-base

.PHONY: all deps font build test run bench package fuzz fuzz-deps windows-deps windows windows-build test-windows clean

all: build

# Installs those of the given Debian packages that are not installed yet.
define install-missing
	@missing=$$(for p in $(1); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	    echo "Installing:" $$missing; \
	    $(SUDO) apt-get update -q && \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q $$missing; \
	fi
endef

deps:
	$(call install-missing,$(PACKAGES))

# Without a CJK font the window's Chinese texts show as empty boxes.
font:
	@if ! fc-list :lang=zh 2>/dev/null | grep -q .; then \
	    $(SUDO) apt-get update -q && \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q fonts-wqy-microhei; \
	fi

SANITIZER_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
ifeq ($(SANITIZE),1)
CONFIGURE_FLAGS := -DCMAKE_C_FLAGS="$(SANITIZER_FLAGS)" -DCMAKE_CXX_FLAGS="$(SANITIZER_FLAGS)" \
                   -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZER_FLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$(SANITIZER_FLAGS)"
# Exported to the tests and to every program they start.
export ASAN_OPTIONS := halt_on_error=1:abort_on_error=1:detect_leaks=1:suppressions=$(CURDIR)/tests/sanitizer/lsan.supp
export LSAN_OPTIONS := suppressions=$(CURDIR)/tests/sanitizer/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS := halt_on_error=1:print_stacktrace=1
endif

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CONFIGURE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

# The packages come first, also under make -j: the build runs after them.
test: deps
	@$(MAKE) --no-print-directory build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

WINDOWS_BUILD ?= build-windows
WINDOWS_PACKAGES := g++-mingw-w64-x86-64 wine64 wine cmake make
# Wine keeps its Windows tree here, apart from the user's own ~/.wine, and
# says nothing about what it does not implement.
WINEPREFIX := $(CURDIR)/$(WINDOWS_BUILD)/wineprefix

windows-deps:
	$(call install-missing,$(WINDOWS_PACKAGES))

$(WINDOWS_BUILD)/CMakeCache.txt:
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake

# The packages come first, also under make -j.
windows: windows-deps
	@$(MAKE) --no-print-directory windows-build

windows-build: $(WINDOWS_BUILD)/CMakeCache.txt
	cmake --build $(WINDOWS_BUILD) -j$(JOBS)

WINE_ENV := WINEPREFIX=$(WINEPREFIX) WINEDEBUG=-all
# The prefix is made once; wineserver -w waits until wine has finished
# writing it. COM7 is mapped to a link in the prefix, which the tests point
# at a simulator's pseudo-terminal.
$(WINEPREFIX)/system.reg:
	$(WINE_ENV) wineboot -i
	$(WINE_ENV) wine reg add 'HKLM\Software\Wine\Ports' /v COM7 /t REG_SZ /d $(WINEPREFIX)/com7 /f
	$(WINE_ENV) wineserver -w

# The soak scenarios the Windows build runs once, on both links: all but the
# endless listing stopped by Ctrl-C (a signal to wine is not a console's
# Ctrl-C) and the slow 9600-baud line.
WINDOWS_SOAK := Links/Soak.AnswersLate*:Links/Soak.LossRepeats*:Links/Soak.Announcements*:Links/Soak.ShortStateRecords*:Links/Soak.Backup*:SoakLine.*

# Under wine: the unit tests (the cross emulator runs each test program);
# then, beside the Linux build, one table of transfers across the two
# systems, and the fault soak driving dncctl.exe in place of dncctl.
test-windows: deps windows
	@$(MAKE) --no-print-directory build $(WINEPREFIX)/system.reg
	cd $(WINDOWS_BUILD) && $(WINE_ENV) ctest --output-on-failure -j$(JOBS)
	$(WINE_ENV) tests/windows/e2e_table.sh $(BUILD)/ncsim/ncsim $(BUILD)/cli/dncctl \
	    $(WINDOWS_BUILD)/ncsim/ncsim.exe $(WINDOWS_BUILD)/cli/dncctl.exe
	$(WINE_ENV) DNCCTL_EXE=$(CURDIR)/$(WINDOWS_BUILD)/cli/dncctl.exe \
	    DNCCTL_UNDER_TEST=$(CURDIR)/tests/windows/dncctl-wine.sh \
	    $(BUILD)/tests/cli/cli_soak_tests --gtest_filter='$(WINDOWS_SOAK)'

FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := engine_answer_filelink engine_answer_dncpanel commands ncsim_requests address_book
FUZZ_PACKAGES := clang libclang-rt-14-dev

fuzz-deps:
	$(call install-missing,$(FUZZ_PACKAGES))

$(FUZZ_BUILD)/CMakeCache.txt:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDNC_FUZZ=ON \
	    -DDNC_BUILD_APP=OFF -DDNC_BUILD_WINDOWS_DLL=OFF -DDNC_BUILD_BENCH=OFF \
	    -DCMAKE_C_FLAGS="$(SANITIZER_FLAGS) -fsanitize=fuzzer-no-link" \
	    -DCMAKE_CXX_FLAGS="$(SANITIZER_FLAGS) -fsanitize=fuzzer-no-link"

# Each target starts from its kept corpus and fuzzes into a scratch folder;
# only the inputs that reach new code are merged back into the corpus.
fuzz: deps fuzz-deps $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j$(JOBS) $(addprefix --target fuzz_,$(FUZZ_TARGETS))
	@set -e; for t in $(FUZZ_TARGETS); do \
	    corpus=tests/fuzz/corpus/$$(echo $$t | sed 's/_filelink$$\|_dncpanel$$//'); \
	    found=$(FUZZ_BUILD)/found/$$t; mkdir -p $$found $$corpus; \
	    echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	    $(FUZZ_BUILD)/tests/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	        -artifact_prefix=$(FUZZ_BUILD)/ $$found $$corpus; \
	    $(FUZZ_BUILD)/tests/fuzz/fuzz_$$t -merge=1 $$corpus $$found 2>&1 | tail -n 1; \
	done

run: deps font
	@$(MAKE) --no-print-directory build
	$(BUILD)/app/dncpanel --demo

# Every bench, then one table of what they measured side by side, with the
# machine it ran on.
BENCH_TABLE := $(CURDIR)/$(BUILD)/bench-table.tsv
bench: build
	@rm -f $(BENCH_TABLE)
	@for b in $(BUILD)/bench/bench_* $(BUILD)/bench/*/bench_*; do \
	    [ -x "$$b" ] && { echo "== $$b"; BENCH_TABLE=$(BENCH_TABLE) "$$b" || echo "$$b failed"; }; done; true
	@echo; echo "Performance report ($$(nproc) cores, $$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1), $$(date +%Y-%m-%d)):"; \
	 echo; printf '| %s | %s | %s |\n|---|---:|---|\n' measure value goal; \
	 awk -F'\t' '{ printf "| %s | %s | %s |\n", $$1, $$2, $$3 }' $(BENCH_TABLE)

# The Debian package (dpkg-shlibdeps, from dpkg-dev, computes its Depends
# from the binaries), and the Windows zip beside it.
package: build windows
	cmake --build $(BUILD) --target package
	packaging/windows/make_zip.sh $(CURDIR) $(CURDIR)/$(BUILD) $(CURDIR)/$(WINDOWS_BUILD) \
	    $$(sed -n 's/^project(dncpanel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

clean:
	rm -rf $(BUILD)
