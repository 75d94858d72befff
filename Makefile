# Two entry points for people: `make run` and `make test`. Both install what the
# machine lacks first (scripts/install-deps.sh), then configure and build with CMake.
BUILD_DIR ?= build
RUN_DIR   ?= run
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)

MAKEFLAGS += --no-print-directory

.PHONY: all deps build run test clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# The server in $(RUN_DIR) with simulated game server, registry and clients.
run: build
	@bash scripts/prepare-run.sh $(BUILD_DIR) $(RUN_DIR)
	@bash scripts/demo.sh $(BUILD_DIR) $(RUN_DIR)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR)
