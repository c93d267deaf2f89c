# make run   - release build, then analyse examples/1ubq.pdb into out/
# make test  - build and run the whole test suite through ctest
# make bench - build and run the benchmarks
BUILD ?= build/release
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES = cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev

.PHONY: run test bench prereq build clean

prereq:
	@./tools/prereq.sh $(PACKAGES)

build: prereq
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DCAVITAS_BENCH=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@mkdir -p out
	@./$(BUILD)/cavitas i:examples/1ubq.pdb o:out/1ubq.res l:out/1ubq.log; \
	  code=$$?; echo "result: out/1ubq.res"; echo "log:    out/1ubq.log"; exit $$code

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done; true

clean:
	rm -rf build out
