# The whole interface of the project: deps, build, test, demo.
# Everything runs as the user who calls make; `deps` needs root (apt-get).

BUILD      := build
WIN32_DIR  := $(BUILD)/win32
WIN64_DIR  := $(BUILD)/win64
JOBS       ?= 2

# Debian packages the build and the tests need. `dpkg-dev` brings dpkg-source,
# which `apt-get source` uses to unpack liblzma's source package.
DEB_PACKAGES := g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 \
	binutils-mingw-w64-x86-64 wine64 wine xvfb xauth x11-utils cmake make \
	doctest-dev dpkg-dev xz-utils ca-certificates python3 ncurses-base librsvg2-bin icoutils imagemagick

.PHONY: all deps build test demo bench screenshots clean

all: build

# 32-bit Windows programs run under Wine's 32-bit half (wine32:i386), in the
# same prefix as the 64-bit ones, as WOW64 runs them. Some hosts cannot execute
# 32-bit code at all: there wine32 is left out, since /usr/bin/wine would then
# pick a 32-bit loader that cannot start, and the 32-bit suite is skipped.
deps:
	@missing=""; for p in $(DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if tools/host-runs-i386.sh; then \
	  dpkg-query -W -f='$${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" || missing="$$missing wine32:i386"; \
	  case "$$missing" in *wine32:i386*) dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386;; esac; \
	else \
	  echo "This host does not execute 32-bit x86 code: Wine stays 64-bit only and the 32-bit suite will not run."; \
	  if dpkg-query -W -f='$${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then \
	    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq wine32:i386 >/dev/null || exit 1; \
	  fi; \
	fi; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  export DEBIAN_FRONTEND=noninteractive; \
	  apt-get update -qq >/dev/null && apt-get install -y -qq --no-install-recommends $$missing >/dev/null || exit 1; \
	fi

# The x86-64 build first: the 32-bit build's package takes from it the files
# that 64-bit Windows needs (selector 2).
build:
	@tools/build-liblzma.sh $(BUILD) i686-w64-mingw32
	@tools/build-liblzma.sh $(BUILD) x86_64-w64-mingw32
	@cmake -S . -B $(WIN64_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DQUENDAL_TESTS=ON \
	  -DQUENDAL_LIBLZMA=$(CURDIR)/$(BUILD)/liblzma/x86_64-w64-mingw32 >/dev/null
	@cmake --build $(WIN64_DIR) -j $(JOBS)
	@cmake -S . -B $(WIN32_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DQUENDAL_TESTS=ON \
	  -DQUENDAL_PROGRAMS64=$(CURDIR)/$(WIN64_DIR)/package \
	  -DQUENDAL_LIBLZMA=$(CURDIR)/$(BUILD)/liblzma/i686-w64-mingw32 >/dev/null
	@cmake --build $(WIN32_DIR) -j $(JOBS)

test: deps build
	@tools/run-tests.sh $(WIN64_DIR) $(WIN32_DIR) $(JOBS)

# The build that demo and screenshots show: the shipping build where this
# host runs 32-bit code (asked when used, after deps), else the x86-64 build.
SHOWN_DIR = $(shell tools/host-runs-i386.sh && [ -x /usr/lib/wine/wine ] && echo $(WIN32_DIR) || echo $(WIN64_DIR))

demo: deps build
	@tools/demo.sh $(SHOWN_DIR)/QuendalInstaller.exe

# The package writer against liblzma alone, on a package of about 26 MB of
# Wine's own DLLs and on one ten times larger.
BENCH_DLLS := /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
bench: deps build
	@mkdir -p $(BUILD)/bench
	@test -f $(BUILD)/bench/package-26MB.bin || python3 tools/pack.py --from-dir $(BENCH_DLLS) --size 26000000 $(BUILD)/bench/package-26MB.bin
	@test -f $(BUILD)/bench/package-260MB.bin || python3 tools/pack.py --from-dir $(BENCH_DLLS) --size 260000000 $(BUILD)/bench/package-260MB.bin
	@tools/wine-template-run.sh $(WIN64_DIR) $(WIN64_DIR)/tests/package_bench.exe 'Z:$(subst /,\,$(CURDIR)/$(BUILD)/bench/package-26MB.bin)'
	@tools/wine-template-run.sh $(WIN64_DIR) $(WIN64_DIR)/tests/package_bench.exe 'Z:$(subst /,\,$(CURDIR)/$(BUILD)/bench/package-260MB.bin)'

# The main dialog as a person sees it, into docs/images.
screenshots: deps build
	@tools/with-xvfb.sh tools/screenshots.sh $(SHOWN_DIR) docs/images

clean:
	rm -rf $(BUILD)
