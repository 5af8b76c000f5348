# Entry points for people; CMake does the building.
#   make run ARGS="showC 10 5 2"   installs what is missing, builds, runs lumbra
#   make test                      builds and runs every test (also under sanitizers)
BUILD ?= build
SAN_BUILD ?= build-san
ARGS ?= showC 10 5 2
JOBS ?= $(shell nproc)

.PHONY: deps build run test test-plain test-sanitize clean

deps:
	@bash .ci/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@./$(BUILD)/lumbra $(ARGS)

test: test-plain test-sanitize

test-plain: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-sanitize: deps
	@cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DLUMBRA_SANITIZE=ON >/dev/null
	@cmake --build $(SAN_BUILD) -j $(JOBS)
	ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(SAN_BUILD)
