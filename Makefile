# Thin wrapper over CMake: the README's commands.
BUILD    ?= build
TYPE     ?= Release
PREFIX   ?= /usr/local
CMAKE_FLAGS ?=
JOBS     ?= 2
WINBUILD ?= build-win

.PHONY: all build demo test install clean windows test-windows windows-zip

all: build

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(TYPE) -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_FLAGS)

build: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	@BIN=$(BUILD)/bin sh samples/demo.sh

# The tests of the Linux programs (those labelled wine are the same tests for the Windows
# programs, run by test-windows); the last lines give each skip's reason and count them.
test: build
	@cd $(BUILD) && ctest -j $(JOBS) -LE wine --output-on-failure > ctest.log 2>&1; rc=$$?; \
	  cat ctest.log; \
	  $(CURDIR)/tests/summary.sh . ctest.log "Linux suite"; exit $$rc

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(WINBUILD)

# Windows: zorbin.exe, kelvash.exe, orvane.exe and echo.exe in $(WINBUILD)/bin, cross-built
# with MinGW-w64; the test suite against them under Wine; the zip for Windows users.
$(WINBUILD)/build.ninja:
	cmake -S . -B $(WINBUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(TYPE) \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake

windows: $(WINBUILD)/build.ninja
	cmake --build $(WINBUILD) -j $(JOBS)

test-windows: build windows
	@tests/wine.sh $(BUILD) $(WINBUILD)

windows-zip: build windows
	@tests/windows_zip_check.sh $(BUILD) $(WINBUILD)
