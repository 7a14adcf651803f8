# Thin wrapper over CMake: the README's commands.
BUILD    ?= build
TYPE     ?= Release
PREFIX   ?= /usr/local
CMAKE_FLAGS ?=
JOBS     ?= 2
WINBUILD ?= build-win

.PHONY: all build configure demo test install uninstall clean windows test-windows windows-zip

all: build

# A build folder is configured anew, from a fresh cache, whenever this run asks for another
# configuration than the one it holds: a changed TYPE or CMAKE_FLAGS is never silently ignored.
# configure DIR, FLAGS
define configure
	@want='$(strip $(2))'; \
	  if [ ! -f $(1)/build.ninja ] || [ "$$(cat $(1)/fwkit-config 2>/dev/null)" != "$$want" ]; then \
	    fresh=; [ -f $(1)/CMakeCache.txt ] && fresh=--fresh; \
	    cmake $$fresh -S . -B $(1) $(2) && printf '%s\n' "$$want" > $(1)/fwkit-config; \
	  fi
endef
config = -G Ninja -DCMAKE_BUILD_TYPE=$(TYPE) $(CMAKE_FLAGS)

configure:
	$(call configure,$(BUILD),$(config))

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The demo needs only the four programs, not the test suite.
demo: configure
	@cmake --build $(BUILD) -j $(JOBS) --target zorbin kelvash orvane echo
	@BIN=$(BUILD)/bin sh samples/demo.sh

# The tests of the Linux programs (those labelled wine are the same tests for the Windows
# programs, run by test-windows); the last lines give each skip's reason and count them.
test: build
	@cd $(BUILD) && ctest -j $(JOBS) -LE wine --output-on-failure > ctest.log 2>&1; rc=$$?; \
	  cat ctest.log; \
	  $(CURDIR)/tests/summary.sh . ctest.log "Linux suite"; exit $$rc

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# Removes every file that the last install from $(BUILD) put in place, then the directories of
# the kit's own that it leaves empty.
uninstall:
	@cmake -DMANIFEST=$(BUILD)/install_manifest.txt -P pkg/uninstall.cmake

clean:
	rm -rf $(BUILD) $(WINBUILD)

# Windows: zorbin.exe, kelvash.exe, orvane.exe and echo.exe in $(WINBUILD)/bin, cross-built
# with MinGW-w64; the test suite against them under Wine; the zip for Windows users.
winconfig = -G Ninja -DCMAKE_BUILD_TYPE=$(TYPE) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake

windows:
	$(call configure,$(WINBUILD),$(winconfig))
	cmake --build $(WINBUILD) -j $(JOBS)

test-windows: build windows
	@tests/wine.sh $(BUILD) $(WINBUILD)

windows-zip: build windows
	@tests/windows_zip_check.sh $(BUILD) $(WINBUILD)
