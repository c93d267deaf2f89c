# make run     - build the program only, then analyse examples/1ubq.pdb into out/
# make test    - build the program and the test suite, run it through ctest
# make bench   - build and run the benchmarks
# make bless   - record the current outputs of the reference structures as golden
# make install - install the program and its manual page under PREFIX (default /usr/local)
BUILD ?= build/release
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local
BUILD_PACKAGES = cmake g++ make gemmi-dev tao-pegtl-dev zlib1g-dev nlohmann-json3-dev
# The checks of the JSON and viewer files run on Debian's python3.
TEST_PACKAGES = $(BUILD_PACKAGES) libgtest-dev libgmock-dev python3-jsonschema python3-gemmi python3-numpy python3-scipy
BENCH_PACKAGES = $(BUILD_PACKAGES) libbenchmark-dev
CORPUS = ../shared/corpus

.PHONY: run test bench bless install program clean

# A build tree made by `make run` has no tests; `make test` and `make bench`
# switch theirs on in the same tree (the program is not rebuilt for that).
program:
	@./tools/prereq.sh $(BUILD_PACKAGES)
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release \
	  -DCAVITAS_TESTS=OFF -DCAVITAS_BENCH=OFF >/dev/null
	@cmake --build $(BUILD) --target cavitas -j $(JOBS)

run: program
	@mkdir -p out
	@./$(BUILD)/cavitas i:examples/1ubq.pdb o:out/1ubq.res l:out/1ubq.log; \
	  code=$$?; echo "result: out/1ubq.res"; echo "log:    out/1ubq.log"; exit $$code

test:
	@./tools/prereq.sh $(TEST_PACKAGES)
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DCAVITAS_TESTS=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@[ -d $(CORPUS) ] || echo "note: $(CORPUS) is absent, so the tests on the whole corpus of real structures" \
	  "are skipped; put the corpus's PDB files (and 3o21x4.pdb) there to run them."
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench:
	@./tools/prereq.sh $(BENCH_PACKAGES)
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DCAVITAS_BENCH=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done; true

bless: program
	@./tools/golden.sh bless $(BUILD)/cavitas

install: program
	@cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf build out
