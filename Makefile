# Tarvel Quolt: the two commands that matter are `make run` and `make test`.
BUILD     ?= build
JOBS      ?= 2
CMAKE_OPTS ?=
# Debian packages the build, the tests and the tools need.
DEB_PACKAGES = cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
  libcairo2-dev libx11-dev libxtst-dev libsndfile1-dev libebur128-dev \
  xvfb xauth xdotool zenity sox x11-utils fonts-dejavu-core clang libclang-rt-14-dev

.PHONY: all deps build run test test-fast test-sanitizers bench bench-all fuzz shots clean

all: build

deps:
	@missing=""; for p in $(DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  (apt-get update -qq || true) && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQ_WERROR=ON $(CMAKE_OPTS) >/dev/null
	cmake --build $(BUILD) -j$(JOBS)

# The demo: only the plug-in and the tool are built; a built-in programme is mastered to
# -14 LUFS under a -1 dBTP ceiling in $(BUILD)/demo, with a private settings store.
run: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQ_WERROR=ON $(CMAKE_OPTS) >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target tarvel-quolt tarvel-render
	@mkdir -p $(BUILD)/demo/config
	cd $(BUILD)/demo && XDG_CONFIG_HOME="$$PWD/config" \
	  ../tarvel-render --target-lufs -14 --ceiling-dbtp -1 --plot demo-master.png
	@echo "Plot: $(BUILD)/demo/demo-master.png"

# Every test: the release build under a virtual X display, then the sanitizer builds.
test: build
	xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)
	$(MAKE) test-sanitizers
	$(MAKE) fuzz && $(BUILD)-fuzz/preset-loader-fuzz -max_total_time=20 $(BUILD)-fuzz/corpus fuzz/seeds

test-fast: build
	xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

test-sanitizers: deps
	cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=Debug -DTQ_WERROR=ON -DTQ_SANITIZE=address -DTQ_BUILD_BENCH=OFF >/dev/null
	cmake --build $(BUILD)-asan -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1 xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir $(BUILD)-asan --output-on-failure -j$(JOBS) -LE slow
	cmake -S . -B $(BUILD)-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQ_WERROR=ON -DTQ_SANITIZE=thread -DTQ_BUILD_BENCH=OFF >/dev/null
	cmake --build $(BUILD)-tsan -j$(JOBS)
	TSAN_OPTIONS=halt_on_error=1 xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir $(BUILD)-tsan --output-on-failure -j$(JOBS) -R Thread

# One table: ours and the LSP limiter side by side with their ratio, default settings and
# everything on, and the engine benchmark's minimum. bench-all runs every benchmark first.
bench: build
	bench/compare.sh $(BUILD)

bench-all: build
	@for b in $(BUILD)/bench/tq_bench_*; do [ -x "$$b" ] && "$$b"; done; true
	bench/compare.sh $(BUILD)

# libFuzzer target for the preset and bank record loaders: a clang build of the same
# libraries (TQ_FUZZ), in $(BUILD)-fuzz.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQ_WERROR=ON \
	  -DTQ_FUZZ=ON -DTQ_BUILD_TESTS=OFF -DTQ_BUILD_BENCH=OFF -DTQ_BUILD_TOOLS=OFF $(CMAKE_OPTS) >/dev/null
	cmake --build $(BUILD)-fuzz -j$(JOBS) --target preset-loader-fuzz
	@mkdir -p $(BUILD)-fuzz/corpus

# Pictures of the editor in a few states (default, K-14 meters with music, About
# box, calibration, program menu) for a person to look at, in $(BUILD)/shots, beside
# the artwork generator's sheets. Fails when no picture of the editor was written.
shots: build
	cmake --build $(BUILD) -j$(JOBS) --target tq_artwork_shots tq_editor_shots
	@mkdir -p $(BUILD)/shots && rm -f $(BUILD)/shots/editor-*.png
	xvfb-run -a -s "-screen 0 1280x1024x24" $(BUILD)/tq_editor_shots $(BUILD)/tarvel-quolt.so $(BUILD)/shots
	@ls $(BUILD)/shots/editor-*.png >/dev/null 2>&1 || \
	  { echo "shots: no picture of the editor was written to $(BUILD)/shots" >&2; exit 1; }
	@echo "shots: pictures in $(BUILD)/shots"

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz
