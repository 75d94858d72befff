# Two entry points for people: `make run` and `make test`. Both install what the
# machine lacks first (scripts/install-deps.sh), then configure and build with CMake.
BUILD_DIR ?= build
RUN_DIR   ?= run
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)

MAKEFLAGS += --no-print-directory

.PHONY: all deps build run test deb windows windows-zip windows-test clean


all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DACSERVER_TESTS=ON -DACSERVER_BENCH=ON >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# The server in $(RUN_DIR) with simulated game server, registry and clients:
# installs and builds only what the demo needs (the tests stay unbuilt until
# `make test`, which configures the same build directory with them).
run:
	@bash scripts/install-deps.sh --run
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DACSERVER_TESTS=OFF -DACSERVER_BENCH=OFF >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target demo
	@bash scripts/prepare-run.sh $(BUILD_DIR) $(RUN_DIR)
	@bash scripts/demo.sh $(BUILD_DIR) $(RUN_DIR)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# An installable Debian package of a stripped Release build, in $(DEB_DIR).
DEB_DIR ?= build-deb
deb:
	@bash scripts/install-deps.sh --run
	@cmake -S . -B $(DEB_DIR) -DCMAKE_BUILD_TYPE=Release -DACSERVER_TESTS=OFF -DACSERVER_BENCH=OFF >/dev/null
	@cmake --build $(DEB_DIR) -j $(JOBS) --target acserver acserver-unban acserver-bans
	@cd $(DEB_DIR) && cpack -G DEB
	@ls $(DEB_DIR)/acserver_*.deb

# 64-bit Windows, cross-built with mingw-w64 into $(WIN_DIR); the Windows
# libraries are built once from Debian's source packages and cached.
WIN_DIR ?= build-windows
windows:
	@bash scripts/install-deps.sh --windows
	@bash scripts/windows-build.sh $(WIN_DIR) >/dev/null
	@ls $(WIN_DIR)/*.exe

# The programs, their DLLs and the Windows admin's README in one zip.
windows-zip: windows
	@bash scripts/windows-zip.sh $(WIN_DIR)

# The Windows suite and the end-to-end run of acserver.exe under wine (after
# `make build`, whose Linux test program drives it).
windows-test: build
	@bash scripts/windows-test.sh $(BUILD_DIR) $(WIN_DIR)

clean:
	rm -rf $(BUILD_DIR)
