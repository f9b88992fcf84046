# The front door: `make run` and `make test` set up a fresh machine of a
# supported Debian release (scripts/lib/common.sh), build, then run.
PRESETS := host host-asan mingw-i686 mingw-x86_64

.PHONY: all setup build run test test-fresh lint bench package clean

all: build

setup:
	@scripts/setup.sh

build: setup
	@for p in $(PRESETS); do \
		cmake --preset $$p >/dev/null && cmake --build --preset $$p -j 2 || exit 1; \
	done

# The 32-bit build; ARCH=x86_64 runs the 64-bit one.
ARCH ?= i686
run: setup
	@cmake --preset mingw-$(ARCH) >/dev/null && cmake --build --preset mingw-$(ARCH) -j 2 --target ambrelix
	@scripts/run.sh $(ARCH)

lint: setup
	@scripts/lint.sh

test: build lint
	@scripts/test.sh build/all-tests $(PRESETS)

bench: build
	@scripts/bench.sh

# Signed when SIGN_PKCS12 and SIGN_PASSWORD_FILE name a certificate and its password.
package: build
	@scripts/package.sh build/packages build/mingw-i686 build/mingw-x86_64

clean:
	rm -rf build

# The two commands from a clean clone of HEAD in a fresh root of every
# supported release (root or sudo); RELEASES=trixie for one.
test-fresh:
	@.ci/fresh-root $(RELEASES)
