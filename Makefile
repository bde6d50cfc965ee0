# Thin targets over the CMake presets; every target installs what is missing first.
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local

.PHONY: all deps build run test test-asan test-tsan test-asan-gui windows test-windows bench bench-windows fuzz soak install package test-package format format-check tidy clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default -j $(JOBS)

run: build
	@scripts/run

test: build
	@ctest --preset default -j $(JOBS) -LE soak

test-asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)
	@ctest --preset asan -j $(JOBS) -LE 'gui|soak'

test-tsan: deps
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan -j $(JOBS)
	@ctest --preset tsan -j $(JOBS) -LE 'gui|soak'

test-asan-gui: deps
	@cmake --preset asan-gui >/dev/null
	@cmake --build --preset asan-gui -j $(JOBS)
	@ctest --preset asan-gui

# The Windows programs, cross-built with mingw-w64 (statically linked) into build/windows.
windows:
	@scripts/install-deps windows
	@cmake --preset windows >/dev/null
	@cmake --build --preset windows -j $(JOBS)
	@cmake --build --preset windows --target windows_zip

# The Windows build's tests under Wine, in a private prefix under build/windows. The
# dialog's end-to-end run needs the Linux simulator and Xvfb: the Linux build too.
test-windows: build windows
	@JOBS=$(JOBS) scripts/test-windows

bench: build
	@scripts/bench

# vyxctl.exe under Wine beside the Linux vyxctl: round trips and idle CPU, for the record.
bench-windows: windows build
	@scripts/bench-windows

fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)
	@scripts/fuzz

soak: build
	@ctest --preset default -L soak

install: build
	@cmake --install build/default --prefix $(PREFIX)

# The Debian package in dist/, and its check: unpacked into a scratch root, run, lintian.
package: build
	@scripts/package

test-package: package
	@scripts/test-package

tidy: build
	@scripts/tidy

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	@rm -rf build
