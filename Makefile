# Murmelin: `make run` builds and starts the program, `make test` builds and runs every test.
# Both install the Debian packages that are missing first.

.PHONY: all deps release asan run test test-release test-asan bench clean

all: release

deps:
	@scripts/install-deps.sh

release: deps
	cmake --preset release
	cmake --build --preset release

asan: deps
	cmake --preset asan
	cmake --build --preset asan

run: release
	./build/release/app/Murmelin

test-release: release
	ctest --preset release

test-asan: asan
	ctest --preset asan

# Runs both suites; fails when either fails.
test: release asan
	@rc=0; \
	ctest --preset release || rc=1; \
	ctest --preset asan || rc=1; \
	if [ $$rc -ne 0 ]; then echo "make test: some tests FAILED"; fi; \
	exit $$rc

bench: release
	bench/run_all.sh

clean:
	rm -rf build
