# make test: install what is missing, build, run every test.
# make run:  install what is missing, build, start dncpanel on its built-in
#            simulated controller.
BUILD ?= build
JOBS ?= 2
SUDO := $(if $(filter 0,$(shell id -u)),,sudo)

PACKAGES := cmake make g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
            qt6-base-dev qt6-base-dev-tools g++-mingw-w64-i686 binutils-mingw-w64-i686 \
            libssl-dev xvfb xauth

.PHONY: all deps font build test run bench clean

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	    echo "Installing:" $$missing; \
	    $(SUDO) apt-get update -q && \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q $$missing; \
	fi

# Without a CJK font the window's Chinese texts show as empty boxes.
font:
	@if ! fc-list :lang=zh 2>/dev/null | grep -q .; then \
	    $(SUDO) apt-get update -q && \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q fonts-wqy-microhei; \
	fi

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

run: build font
	$(BUILD)/app/dncpanel --demo

bench: build
	@for b in $(BUILD)/bench/bench_* $(BUILD)/bench/*/bench_*; do \
	    [ -x "$$b" ] && { echo "== $$b"; "$$b"; }; done; true

clean:
	rm -rf $(BUILD)
