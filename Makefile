# Thin wrapper over CMake: the README's commands.
BUILD    ?= build
TYPE     ?= Release
PREFIX   ?= /usr/local
CMAKE_FLAGS ?=
JOBS     ?= 2

.PHONY: all build demo test install clean

all: build

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(TYPE) -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_FLAGS)

build: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	@BIN=$(BUILD)/bin sh samples/demo.sh

test: build
	@cd $(BUILD) && ctest -j $(JOBS) --output-on-failure > ctest.log 2>&1; rc=$$?; \
	  cat ctest.log; \
	  summary=$$(grep -E 'tests passed|tests failed' ctest.log | tail -n 1); \
	  echo "SUMMARY: $${summary:-no tests ran}"; exit $$rc

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD)
