# SPDX-License-Identifier: GPL-3.0-or-later
# Murmelin: `make run` builds and starts the program, `make test` builds and runs every test.
# Both install the Debian packages that are missing first: `make run` only what building and
# running need, `make test` the test tools as well (scripts/install-deps.sh).
#
#   make install [PREFIX=/usr/local] [DESTDIR=]   installs the program and its desktop files
#   make uninstall [PREFIX=/usr/local]            removes them again
#   make package                                  builds build/package/deb/murmelin_*.deb

PREFIX ?= /usr/local
DESTDIR ?=

# The release tree serves both: a first configure for the program alone leaves the tests out,
# so that `make run` needs no test tools; `make test` switches them on, and they stay on.
RELEASE_CONFIGURE = cmake --preset release $(if $(wildcard build/release/CMakeCache.txt),,-DMURMELIN_BUILD_TESTS=OFF)
INSTALL_TARGETS = --target Murmelin murmelin_desktop_files
ABSOLUTE_PREFIX = case "$(PREFIX)" in /*) ;; *) echo "PREFIX must be an absolute path: $(PREFIX)" >&2; exit 2 ;; esac

.PHONY: all deps deps-test deps-package program release asan run test test-release test-asan bench \
        install uninstall package clean

all: release

deps:
	@scripts/install-deps.sh

deps-test:
	@scripts/install-deps.sh --test

deps-package:
	@scripts/install-deps.sh --package

program: deps
	$(RELEASE_CONFIGURE)
	cmake --build --preset release --target Murmelin

release: deps-test
	cmake --preset release -DMURMELIN_BUILD_TESTS=ON
	cmake --build --preset release

asan: deps-test
	cmake --preset asan -DMURMELIN_BUILD_TESTS=ON
	cmake --build --preset asan

run: program
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

# Installing under a prefix that is not ours to write (the default /usr/local) goes through
# sudo; the build itself never does.
install: deps
	@$(ABSOLUTE_PREFIX)
	$(RELEASE_CONFIGURE)
	cmake --build --preset release $(INSTALL_TARGETS)
	@dest="$(DESTDIR)$(PREFIX)"; as_root=; \
	while [ ! -e "$$dest" ]; do dest=$$(dirname "$$dest"); done; \
	if [ ! -w "$$dest" ] && [ "$$(id -u)" -ne 0 ]; then as_root=sudo; fi; \
	$$as_root env DESTDIR="$(DESTDIR)" cmake --install build/release --prefix "$(PREFIX)" --strip

uninstall:
	@$(ABSOLUTE_PREFIX)
	@test -f build/release/uninstall.cmake || $(RELEASE_CONFIGURE) >/dev/null
	@dest="$(DESTDIR)$(PREFIX)"; as_root=; \
	if [ -e "$$dest" ] && [ ! -w "$$dest" ] && [ "$$(id -u)" -ne 0 ]; then as_root=sudo; fi; \
	$$as_root env DESTDIR="$(DESTDIR)" cmake -DPREFIX="$(PREFIX)" -P build/release/uninstall.cmake

# The package is built in a tree of its own with the distribution's hardening flags.
PACKAGE_FLAGS = export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
	cflags="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CFLAGS)"; \
	cxxflags="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)"; \
	ldflags="$$(dpkg-buildflags --get LDFLAGS)"

package: deps-package
	@$(PACKAGE_FLAGS); \
	cmake --preset package -DCMAKE_C_FLAGS="$$cflags" -DCMAKE_CXX_FLAGS="$$cxxflags" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$ldflags"
	cmake --build --preset package $(INSTALL_TARGETS)
	cpack --config build/package/CPackConfig.cmake -G DEB -B build/package/deb

clean:
	rm -rf build
