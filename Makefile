# Two entry points for people: `make run` and `make test`. Both install what the
# machine lacks first (scripts/install-deps.sh), then configure and build with CMake.
BUILD_DIR ?= build
RUN_DIR   ?= run
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)

MAKEFLAGS += --no-print-directory

.PHONY: all deps build run test deb clean


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

clean:
	rm -rf $(BUILD_DIR)
