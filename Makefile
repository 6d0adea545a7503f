# The whole interface of the project: deps, build, test, demo.
# Everything runs as the user who calls make; `deps` needs root (apt-get).

BUILD      := build
WIN32_DIR  := $(BUILD)/win32
WIN64_DIR  := $(BUILD)/win64
JOBS       ?= 2
# Tests at a time. At two, a quarter of the two cores' time went unused while
# tests waited (docs/testing.md); four made Wine itself fail now and then (a
# refused process start, an X error).
TEST_JOBS  ?= 3

# Debian packages the build and the tests need. `dpkg-dev` brings dpkg-source,
# which `apt-get source` uses to unpack liblzma's source package.
DEB_PACKAGES := g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 \
	binutils-mingw-w64-x86-64 wine64 wine xvfb xauth x11-utils cmake make \
	doctest-dev dpkg-dev xz-utils ninja-build ca-certificates python3 ncurses-base librsvg2-bin icoutils imagemagick \
	osslsigncode openssl python3-jsonschema python3-yaml softhsm2 libengine-pkcs11-openssl fonts-wine

.PHONY: all deps build test reproducible reproducible-check sign sign-preflight check-release demo bench crash-sweep screenshots clean

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

# Signing (docs/release.md): a release engineer names the certificate and key;
# without them every build is signed with a throw-away test certificate, so
# the signing path is always the one that is built and tested.
SIGN_CERT      ?=
SIGN_KEY       ?=
SIGN_PASS_FILE ?=
TIMESTAMP_URL  ?=
SIGN_CA        ?=
PKCS11_MODULE  ?=
PKCS11_ENGINE  ?=
TEST_CERT_DIR  := $(BUILD)/test-cert
# The one time a build records (the signing time without a timestamp server):
# the commit's, so that two builds of one commit give the same bytes.
SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null || echo 0)
export SOURCE_DATE_EPOCH SIGN_PASS_FILE TIMESTAMP_URL PKCS11_MODULE PKCS11_ENGINE

ifeq ($(SIGN_CERT),)
BUILD_SIGNING = SIGN_CERT=$(TEST_CERT_DIR)/signing.pem SIGN_KEY=$(TEST_CERT_DIR)/signing.key SIGN_CA=$(TEST_CERT_DIR)/ca.pem
else
BUILD_SIGNING = SIGN_CERT=$(SIGN_CERT) SIGN_KEY=$(SIGN_KEY) SIGN_CA=$(SIGN_CA)
endif

# The x86-64 build first: the 32-bit build's package takes from it the files
# that 64-bit Windows needs (selector 2).
build:
	@$(if $(SIGN_CERT),,tools/make-test-cert.sh $(TEST_CERT_DIR))
	@$(BUILD_SIGNING) tools/build.sh $(BUILD) ON $(JOBS)

# The suites, then a second build of the same sources that must give the same
# bytes (reproducible).
test: deps build
	@status=0; tools/run-tests.sh $(WIN64_DIR) $(WIN32_DIR) $(TEST_JOBS) || status=1; \
	$(MAKE) --no-print-directory reproducible-check || status=1; exit $$status

# Builds the sources again, at another path, and compares both installers and
# their packages byte for byte (with the first build's signatures attached:
# tools/check-release.sh).
reproducible: deps build reproducible-check
reproducible-check:
	@XZ_SOURCE=$(BUILD)/liblzma/src LIBLZMA_BUILT=$(BUILD)/liblzma tools/check-release.sh $(BUILD)/check $(JOBS) \
	  $(WIN32_DIR)/QuendalInstaller.exe $(WIN64_DIR)/QuendalInstaller.exe

# A release (docs/release.md): built without the tests into build/release,
# signed with the certificate and key named, its signatures verified, its
# checksums and winget manifest written. Signing without a timestamp server
# is refused unless NO_TIMESTAMP=1 says it is meant: such signatures expire
# with the certificate.
RELEASE_DIR  := $(BUILD)/release
NO_TIMESTAMP ?=
sign: sign-preflight deps
	@$(BUILD_SIGNING) XZ_SOURCE=$(BUILD)/liblzma/src tools/build.sh $(RELEASE_DIR) OFF $(JOBS)
	@tools/verify-release.sh $(RELEASE_DIR) $(SIGN_CA)
	@tools/build-info.sh > $(RELEASE_DIR)/BUILDINFO
	@cd $(RELEASE_DIR) && sha256sum win32/QuendalInstaller.exe win64/QuendalInstaller.exe | tee SHA256SUMS
	@python3 tools/winget-manifests.py docs/deployment.md $(RELEASE_DIR)/win32/QuendalInstaller.exe $(RELEASE_DIR)/winget

sign-preflight:
	@if [ -z "$(SIGN_CERT)" ] || [ -z "$(SIGN_KEY)" ]; then \
	  echo "make sign: SIGN_CERT and SIGN_KEY must name the release certificate and its key (docs/release.md)"; exit 2; fi
	@if [ -z "$(TIMESTAMP_URL)" ] && [ "$(NO_TIMESTAMP)" != 1 ]; then \
	  echo "make sign: no TIMESTAMP_URL: signatures without a timestamp expire with the certificate."; \
	  echo "Name the CA's timestamp server, or say NO_TIMESTAMP=1 if that is meant (docs/release.md)."; exit 2; fi

# Whether a released installer comes from these sources: RELEASE=<installer ...>.
check-release: deps
	@if [ -z "$(RELEASE)" ]; then echo "make check-release: RELEASE must name the installer(s) to check"; exit 2; fi
	@XZ_SOURCE=$(BUILD)/liblzma/src tools/check-release.sh $(BUILD)/check $(JOBS) $(RELEASE)

# The build that demo and screenshots show: the shipping build where this
# host runs 32-bit code (asked when used, after deps), else the x86-64 build.
SHOWN_DIR = $(shell tools/host-runs-i386.sh && [ -x /usr/lib/wine/wine ] && echo $(WIN32_DIR) || echo $(WIN64_DIR))

# Builds only the installers it shows, configured as `make build` configures
# them, so that a later `make build` or `make test` goes on from there.
demo: deps
	@$(if $(SIGN_CERT),,tools/make-test-cert.sh $(TEST_CERT_DIR))
	@$(BUILD_SIGNING) tools/build.sh $(BUILD) ON $(JOBS) $(if $(filter $(WIN32_DIR),$(SHOWN_DIR)),installers,installer64)
	@tools/demo.sh $(SHOWN_DIR)/QuendalInstaller.exe

# The package writer against liblzma alone, on a package of about 26 MB of
# Wine's own DLLs, on one ten times larger and on the product's own; then
# where a real installation's time goes.
BENCH_DLLS := /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
bench: deps build
	@mkdir -p $(BUILD)/bench
	@test -f $(BUILD)/bench/package-26MB.bin || python3 tools/pack.py --from-dir $(BENCH_DLLS) --size 26000000 $(BUILD)/bench/package-26MB.bin
	@test -f $(BUILD)/bench/package-260MB.bin || python3 tools/pack.py --from-dir $(BENCH_DLLS) --size 260000000 $(BUILD)/bench/package-260MB.bin
	@tools/wine-template-run.sh $(WIN64_DIR) $(WIN64_DIR)/tests/package_bench.exe 'Z:$(subst /,\,$(CURDIR)/$(BUILD)/bench/package-26MB.bin)'
	@tools/wine-template-run.sh $(WIN64_DIR) $(WIN64_DIR)/tests/package_bench.exe 'Z:$(subst /,\,$(CURDIR)/$(BUILD)/bench/package-260MB.bin)'
	@tools/wine-template-run.sh $(WIN64_DIR) $(WIN64_DIR)/tests/package_bench.exe 'Z:$(subst /,\,$(CURDIR)/$(WIN64_DIR)/package.bin)'
	@tools/with-xvfb.sh python3 tools/install-profile.py $(WIN64_DIR)
	@tools/wine-template-run.sh $(WIN64_DIR) $(WIN64_DIR)/tests/upgrade_downtime.exe 'Z:$(subst /,\,$(CURDIR)/$(WIN64_DIR)/QuendalInstaller.exe)' 5

# The main dialog as a person sees it, into docs/images.
# The crash sweep (docs/recovery.md) with many moments, on each build this
# host runs: N moments (spread over the five ways) from SEED over SPAN
# milliseconds (by default a clean installation's time, measured), both
# printed so that a failure can be replayed with the same SEED and SPAN.
N    ?= 50
SEED ?= $(shell date +%s)
# KINDS="upgrade" sweeps only those ways (terminate session power twice upgrade).
KINDS ?= terminate session power twice upgrade
SPAN ?=
crash-sweep: deps build
	@for dir in $(WIN64_DIR) $(if $(filter $(WIN32_DIR),$(SHOWN_DIR)),$(WIN32_DIR)); do \
	  echo "== $$dir"; \
	  tools/make-wine-template.sh $$dir/wine-template >/dev/null || exit 1; \
	  QUENDAL_WINE_TEMPLATE=$$(realpath $$dir/wine-template) SWEEP_KINDS="$(KINDS)" tools/with-xvfb.sh tests/e2e/crash-sweep.sh \
	    $$dir/QuendalInstaller.exe $$dir/tests/crash_probe.exe $(SEED) $(N) $(SPAN) || exit 1; \
	done

screenshots: deps build
	@tools/with-xvfb.sh tools/screenshots.sh $(SHOWN_DIR) docs/images

clean:
	rm -rf $(BUILD)
