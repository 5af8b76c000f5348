# Entry points for people; CMake does the building.
#   make start                     installs what is missing, builds lumbra,
#                                  lumbra-kit and the Python package, runs an
#                                  example and prints how to reach all three
#   make run ARGS="showC 10 5 2"   the same build; runs lumbra with ARGS
#   make test                      builds everything in one tree and runs every
#                                  test in it (unit, property, command-line,
#                                  Python, the documentation's examples)
#   make check                     make test, then the same under each lower
#                                  processor level, under sanitizers, the
#                                  threaded tests under ThreadSanitizer and the
#                                  command-line cases under valgrind (CI)
#   make fuzz                      builds the fuzz targets with clang and runs each
#                                  for FUZZ_SECONDS besides its checked-in corpus
#   make tidy                      runs clang-tidy (.clang-tidy) over the project's
#                                  sources, as compiled in $(BUILD)
# The test builds treat every compiler warning as an error (LUMBRA_WERROR).
SHELL := /bin/bash
BUILD ?= build
SAN_BUILD ?= build-san
TSAN_BUILD ?= build-tsan
PLAIN_BUILD ?= build-nointr
FUZZ_BUILD ?= build-fuzz
ARGS ?= showC 10 5 2
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
# The test programs that start threads: all that the ThreadSanitizer build needs.
THREADED_TESTS = block_runs_test count_test general_band_test
FUZZ_TARGETS = fuzz_cli fuzz_walk fuzz_mp_string fuzz_kit fuzz_decode fuzz_coding fuzz_shape fuzz_summary fuzz_library

# Memcheck on the real binary: any error, and any block definitely or
# indirectly lost, ends the run with status 97, which fails the case.
VALGRIND = valgrind -q --error-exitcode=97 --leak-check=full --errors-for-leak-kinds=definite,indirect
# clang before 19 needs sized deallocation asked for (the pool frees with
# sizes), and its -Wconversion also warns of sign changes, which g++'s does
# not; compiler warnings are not clang-tidy's to fail on (LUMBRA_WERROR is).
TIDY_ARGS = -extra-arg=-fsized-deallocation -extra-arg=-Wno-sign-conversion -extra-arg=-Wno-error
FUZZ_ENV = ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1

.PHONY: deps build build-strict start run test check test-plain test-isa test-sanitize test-thread test-valgrind test-no-intrinsics fuzz tidy clean

deps:
	@bash .ci/install-deps

# make run (which builds only the program it runs) and these build in a tree
# of their own, optimised and without the tests:
#   make run-kit ARGS="count 10 5 2"  the same as make run, for lumbra-kit
#   make install PREFIX=/usr/local    the programs, man pages, completion, README,
#                                     the library with its headers, CMake package
#                                     and lumbra.pc, and the Python module
#   make package                      the Debian package lumbra_<version>_<arch>.deb
RUN_BUILD ?= build-run
PREFIX ?= /usr/local
.PHONY: programs run-kit install package clean-run

# $(call quiet_build,TARGETS): TARGETS alone; one line of progress, and the
# log shown only when the build fails.
define quiet_build
	@mkdir -p $(RUN_BUILD)
	@echo "building $(1) in $(RUN_BUILD)/ ..." >&2
	@{ cmake -S . -B $(RUN_BUILD) -DCMAKE_BUILD_TYPE=Release -DLUMBRA_TESTS=OFF && \
	   cmake --build $(RUN_BUILD) -j $(JOBS) --target $(1); } > $(RUN_BUILD)/build.log 2>&1 || \
	 { tail -n 40 $(RUN_BUILD)/build.log; echo "the build failed; the whole log is $(RUN_BUILD)/build.log" >&2; exit 1; }
endef

# What the README's examples use: both programs and the Python package.
START_TARGETS = lumbra lumbra-kit lumbra_python
start: deps
	$(call quiet_build,$(START_TARGETS))
	@echo '$$ lumbra showC 10 5 2'
	@./$(RUN_BUILD)/lumbra showC 10 5 2
	@echo
	@echo 'lumbra, lumbra-kit and the Python package lumbra are built in $(RUN_BUILD)/.'
	@echo 'To reach them from this shell (or put the two lines into ~/.bashrc):'
	@echo '  export PATH="$(CURDIR)/$(RUN_BUILD):$$PATH"'
	@echo '  export PYTHONPATH="$(CURDIR)/$(RUN_BUILD)/python$${PYTHONPATH:+:$$PYTHONPATH}"'
	@echo 'To install them instead: make install PREFIX=/usr/local (see docs/building.md).'

# Without ARGS on the command line (or in the environment), lumbra-kit --help.
run-kit: deps
	$(call quiet_build,lumbra-kit)
	@./$(RUN_BUILD)/lumbra-kit $(if $(filter file,$(origin ARGS)),--help,$(ARGS))

# Everything that is installed.
INSTALLED_TARGETS = lumbra lumbra-kit lumbra_shared lumbra_archive lumbra_python
programs: deps
	$(call quiet_build,$(INSTALLED_TARGETS))

# DESTDIR=... stages the installation under another root, as packagers do.
install: programs
	DESTDIR="$(DESTDIR)" cmake --install $(RUN_BUILD) --prefix "$(PREFIX)" --strip

package: programs
	@cd $(RUN_BUILD) && rm -f lumbra_*.deb && { cpack -G DEB > cpack.log 2>&1 || { cat cpack.log; exit 1; }; }
	@ls $(RUN_BUILD)/lumbra_*.deb

clean: clean-run
clean-run:
	rm -rf $(RUN_BUILD)

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: deps
	$(call quiet_build,lumbra)
	@./$(RUN_BUILD)/lumbra $(ARGS)

# One tree, every test in it.
test: test-plain

# What CI runs besides: every suite again under the sanitizers, the
# threaded tests under ThreadSanitizer, the command-line cases under valgrind.
check: test-plain test-isa test-sanitize test-thread test-valgrind

# The build of the plain tests and of clang-tidy: every warning an error.
build-strict: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMBRA_WERROR=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test-plain: build-strict
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The unit, thread and command-line tests of $(BUILD) again under each lower
# processor level this machine has (LUMBRA_ISA), so that every kernel is
# checked against the same expected bytes as the one in use (make check).
ISA_LEVELS ?= plain sse2 avx2 avx512
test-isa: build-strict
	@top=$$(env -u LUMBRA_ISA ./$(BUILD)/lumbra-kit --version | sed -n 's/^isa: //p'); \
	for level in $(ISA_LEVELS); do \
	  [ "$$level" = "$$top" ] && break; \
	  LUMBRA_ISA=$$level ./$(BUILD)/lumbra-kit --version >/dev/null 2>&1 || continue; \
	  echo "== LUMBRA_ISA=$$level"; \
	  LUMBRA_ISA=$$level ctest --test-dir $(BUILD) -L 'unit|threads|cli' --output-on-failure -j $(JOBS) || exit 1; \
	done

# The build without inline assembly and intrinsics (the C++ kernels alone):
# the unit, thread and command-line tests against the same expected bytes.
# Not part of `make test` (a fifth tree); run it after changing a kernel.
test-no-intrinsics: deps
	@cmake -S . -B $(PLAIN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMBRA_WERROR=ON -DLUMBRA_NO_INTRINSICS=ON >/dev/null
	@cmake --build $(PLAIN_BUILD) -j $(JOBS)
	ctest --test-dir $(PLAIN_BUILD) -L 'unit|threads|cli' --output-on-failure -j $(JOBS)

test-sanitize: deps
	@cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DLUMBRA_SANITIZE=ON -DLUMBRA_WERROR=ON >/dev/null
	@cmake --build $(SAN_BUILD) -j $(JOBS)
	ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)

# The tests that run several threads (label "threads") and the counting
# engine's two-thread tests, under ThreadSanitizer (the count's small blocks
# never start a second thread and are left out).
test-thread: deps
	@cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMBRA_TSAN=ON >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target lumbra lumbra-kit $(THREADED_TESTS)
	ctest --test-dir $(TSAN_BUILD) -L threads --output-on-failure -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1 ./$(TSAN_BUILD)/tests/count_test --gtest_filter='-*SmallBlock*'

test-valgrind: build
	LUMBRA_WRAP="$(VALGRIND)" ctest --test-dir $(BUILD) -L cli --output-on-failure -j $(JOBS)

# The fuzzers write what they find into $(FUZZ_BUILD)/corpus (the checked-in
# seeds stay as they are) and a crashing input into $(FUZZ_BUILD)/artifacts.
fuzz: deps
	@CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DLUMBRA_FUZZ=ON -DLUMBRA_SANITIZE=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	ctest --test-dir $(FUZZ_BUILD) --output-on-failure -j $(JOBS)
	@mkdir -p $(FUZZ_BUILD)/artifacts
	@for t in $(FUZZ_TARGETS); do \
	  seeds=tests/fuzz/corpus/$${t#fuzz_}; log=$(FUZZ_BUILD)/$$t.log; mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
	  echo "fuzzing $$t for $(FUZZ_SECONDS) s"; \
	  if ! $(FUZZ_ENV) ./$(FUZZ_BUILD)/tests/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -timeout=30 \
	      -artifact_prefix=$(FUZZ_BUILD)/artifacts/$$t- $(FUZZ_BUILD)/corpus/$$t $$seeds > $$log 2>&1; then \
	    tail -n 60 $$log; echo "$$t failed: the input is in $(FUZZ_BUILD)/artifacts"; exit 1; \
	  fi; \
	  grep -E '^Done' $$log; \
	done

# Every translation unit of the project (not the benchmarks' baselines) in
# compile_commands.json; any finding fails.
tidy: build-strict
	run-clang-tidy -p $(BUILD) -j $(JOBS) -quiet $(TIDY_ARGS) '$(CURDIR)/(ruzorid|common|lib|tool|kit|tests)/.*\.cpp$$'

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(PLAIN_BUILD)
