#!/usr/bin/env bash
# Builds Velmora and runs the whole test suite:
#   format   every C++ file as .clang-format wants it
#   release  warnings as errors, every test
#   package  installs the release build into a temporary prefix, checks the
#            tree, the desktop entry, the AppStream file and the .deb
#   asan     AddressSanitizer + UndefinedBehaviorSanitizer, every test
#   tsan     ThreadSanitizer, the tests labelled "threads"
#   fuzz     libFuzzer on the data set loader, every reader, the rasterizer, the session reader
#            and the seed list reader,
#            VELMORA_FUZZ_SECONDS (60) shared
# Name stages as arguments to run only those. Exits non-zero if any stage fails.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

stages=("$@")
[ ${#stages[@]} -eq 0 ] && stages=(format release package asan tsan fuzz)
for stage in "${stages[@]}"; do
    case "$stage" in
    format | release | package | asan | tsan | fuzz) ;;
    *)
        echo "usage: scripts/test.sh [format] [release] [package] [asan] [tsan] [fuzz]" >&2
        exit 2
        ;;
    esac
done

velmora_ensure_packages "${VELMORA_BUILD_PACKAGES[@]}" "${VELMORA_TEST_PACKAGES[@]}" || exit 1
cd "$VELMORA_ROOT" || exit 1

# Sanitizer reports end the test that triggers them, so a report is a failure.
# Qt's offscreen platform frees what it allocates, so leaks are reported too.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# Qt itself is not instrumented; scripts/tsan.supp says which of its reports are false.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$VELMORA_ROOT/scripts/tsan.supp"
export QT_QPA_PLATFORM=offscreen

declare -A result
failed=0

fail()
{
    result[$1]="FAILED: $2"
    failed=1
}

# run_ctest STAGE [ctest options...]: the output is kept in build/STAGE/ctest.log
# for the summary at the end.
run_ctest()
{
    local stage=$1
    shift
    ctest --test-dir "build/$stage" --output-on-failure -j "$VELMORA_JOBS" "$@" 2>&1 \
        | tee "build/$stage/ctest.log"
}

stage_format()
{
    echo "== format: clang-format --dry-run on every tracked C++ file"
    local files
    mapfile -t files < <(git ls-files '*.cpp' '*.h')
    if [ ${#files[@]} -eq 0 ]; then
        fail format "no C++ files found (not a git checkout?)"
        return
    fi
    clang-format --dry-run --Werror "${files[@]}" || fail format "run clang-format -i on the files named above"
}

stage_release()
{
    echo "== release: build with warnings as errors"
    velmora_configure release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_WERROR=ON \
        -DVELMORA_BUILD_TESTS=ON -DVELMORA_BUILD_BENCH=ON -DVELMORA_BUILD_FUZZ=OFF \
        -DVELMORA_SANITIZE= || { fail release "configure"; return; }
    local built=1
    velmora_build release || built=0
    echo "== release: ctest"
    run_ctest release || { fail release "tests"; return; }
    [ $built -eq 1 ] || fail release "build (see the compiler errors above)"
}

# package_check LABEL COMMAND...: runs COMMAND quietly; on failure shows its
# output and records LABEL as a problem of the package stage.
package_problems=()
package_check()
{
    local label=$1 output
    shift
    if ! output=$("$@" 2>&1); then
        printf '%s\n' "$output" | sed 's/^/    /'
        echo "!! package: $label"
        package_problems+=("$label")
    fi
}

stage_package()
{
    echo "== package: install the release build into a temporary prefix"
    package_problems=()
    if [ ! -f build/release/CMakeCache.txt ]; then
        velmora_configure release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_WERROR=ON \
            -DVELMORA_BUILD_TESTS=ON -DVELMORA_BUILD_BENCH=ON -DVELMORA_BUILD_FUZZ=OFF \
            -DVELMORA_SANITIZE= || { fail package "configure"; return; }
    fi
    velmora_build release velmora_install_files || { fail package "build"; return; }
    local version
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
    [ -n "$version" ] || { fail package "no project version in build/release/CMakeCache.txt"; return; }
    local prefix
    prefix=$(mktemp -d /tmp/velmora-install.XXXXXX)
    cmake --install build/release --prefix "$prefix" >build/release/install.log 2>&1 \
        || { cat build/release/install.log; fail package "cmake --install"; rm -rf "$prefix"; return; }

    # The expected tree: every program built in the tree (so a new tool that
    # is not installed is caught), its manual page, every sample.
    local programs=(velmora) expected=() file
    for file in build/release/tools/velmora-*; do
        [ -f "$file" ] && [ -x "$file" ] && programs+=("$(basename "$file")")
    done
    for file in "${programs[@]}"; do
        expected+=("bin/$file" "share/man/man1/$file.1.gz")
    done
    while IFS= read -r file; do
        expected+=("share/velmora/$file")
    done < <(find dat -maxdepth 1 -type f \( -name '*.gri' -o -name '*.dat' \) | sort)
    local metainfo
    metainfo=$(cd "$prefix" && ls share/metainfo/*.metainfo.xml 2>/dev/null | head -n 1)
    expected+=(share/applications/velmora.desktop
        share/mime/packages/velmora.xml
        share/icons/hicolor/scalable/apps/velmora.svg
        share/icons/hicolor/256x256/apps/velmora.png
        share/velmora/screenshots/velmora-vortex-street.png
        "${metainfo:-share/metainfo/(an AppStream file)}")
    echo "== package: ${#expected[@]} files expected in the installed tree"
    for file in "${expected[@]}"; do
        [ -s "$prefix/$file" ] || { echo "!! package: missing $file"; package_problems+=("installed $file"); }
    done

    local desktop="$prefix/share/applications/velmora.desktop"
    package_check "desktop-file-validate" desktop-file-validate "$desktop"
    # The menu entry must start an installed program and name an installed icon.
    local exec icon
    exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop" 2>/dev/null)
    icon=$(sed -n 's/^Icon=//p' "$desktop" 2>/dev/null)
    [ -n "$exec" ] && [ -x "$prefix/bin/$exec" ] || { echo "!! package: Exec=$exec is not installed"; package_problems+=("desktop Exec"); }
    compgen -G "$prefix/share/icons/hicolor/*/apps/$icon.*" >/dev/null || { echo "!! package: Icon=$icon is not installed"; package_problems+=("desktop Icon"); }
    if [ -n "$metainfo" ]; then
        package_check "appstreamcli validate" appstreamcli validate --no-net "$prefix/$metainfo"
    fi
    # The MIME types: well-formed, and a database built from the system's and
    # ours tells a native grid by its name and, without one, by its magic.
    local mimefile="$prefix/share/mime/packages/velmora.xml"
    package_check "xmllint velmora.xml" xmllint --noout "$mimefile"
    local mimeroot sample type
    mimeroot=$(mktemp -d /tmp/velmora-mime.XXXXXX)
    mkdir -p "$mimeroot/mime/packages"
    cp /usr/share/mime/packages/freedesktop.org.xml "$mimefile" "$mimeroot/mime/packages/"
    sample="$prefix/share/velmora/dat/cavity.gri"
    cp "$sample" "$mimeroot/grid-without-suffix"
    update-mime-database "$mimeroot/mime" >/dev/null 2>&1
    for file in "$sample" "$mimeroot/grid-without-suffix"; do
        type=$(XDG_DATA_HOME="$mimeroot" XDG_DATA_DIRS="$mimeroot" \
            gio info -a standard::content-type "$file" 2>/dev/null | sed -n 's/.*content-type: //p')
        [ "$type" = application/x-velmora-grid ] || { echo "!! package: $(basename "$file") is '$type'"; package_problems+=("MIME type of $(basename "$file")"); }
    done
    # A session by its suffix.
    printf '{"version": 1}\n' >"$mimeroot/figure.velmora"
    type=$(XDG_DATA_HOME="$mimeroot" XDG_DATA_DIRS="$mimeroot" \
        gio info -a standard::content-type "$mimeroot/figure.velmora" 2>/dev/null | sed -n 's/.*content-type: //p')
    [ "$type" = application/x-velmora-session ] || { echo "!! package: figure.velmora is '$type'"; package_problems+=("MIME type of a session"); }
    rm -rf "$mimeroot"
    # PNG: width and height are the big-endian words at bytes 16 and 20.
    local size
    size=$(od -An -tu1 -j16 -N8 "$prefix/share/icons/hicolor/256x256/apps/velmora.png" 2>/dev/null \
        | awk '{print $3*256+$4 "x" $7*256+$8}')
    [ "$size" = 256x256 ] || { echo "!! package: the PNG icon is ${size:-unreadable}"; package_problems+=("icon size"); }

    echo "== package: --help and --version of every installed program"
    for file in "${programs[@]}"; do
        package_check "$file --help" "$prefix/bin/$file" --help
        local said
        said=$("$prefix/bin/$file" --version 2>/dev/null)
        [ "$said" = "$file $version" ] || { echo "!! package: $file --version said '$said'"; package_problems+=("$file --version"); }
    done
    for file in "${programs[@]}"; do
        package_check "manual page of $file" gzip -t "$prefix/share/man/man1/$file.1.gz"
    done

    echo "== package: cpack -G DEB"
    local deb="build/release/velmora_${version}_$(dpkg --print-architecture).deb"
    rm -f "$deb"
    (cd build/release && cpack -G DEB >cpack.log 2>&1) || cat build/release/cpack.log
    if [ ! -f "$deb" ]; then
        echo "!! package: $deb was not made"
        package_problems+=("cpack")
    else
        local listing
        listing=$(dpkg-deb -c "$deb" | awk '{print $NF}')
        for file in "${expected[@]}"; do
            grep -qxF "./usr/$file" <<<"$listing" || { echo "!! package: the .deb lacks /usr/$file"; package_problems+=("deb: /usr/$file"); }
        done
        local field expect
        for field in Package:velmora Version:"$version" Section:science; do
            expect=${field#*:}
            [ "$(dpkg-deb -f "$deb" "${field%%:*}")" = "$expect" ] || package_problems+=("deb: ${field%%:*} is not $expect")
        done
        [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || package_problems+=("deb: no Maintainer")
        # Depends comes from dpkg-shlibdeps; without it apt would not pull in Qt.
        dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || package_problems+=("deb: Depends lacks libqt6widgets6")
        echo "== package: $deb, $(stat -c %s "$deb") bytes, $(wc -l <<<"$listing") entries"
    fi
    rm -rf "$prefix"
    if [ ${#package_problems[@]} -gt 0 ]; then
        fail package "$(IFS=';'; echo "${package_problems[*]}" | sed 's/;/; /g')"
    else
        result[package]="passed: ${#expected[@]} files installed and packaged, validators clean"
    fi
}

stage_asan()
{
    echo "== asan: build with AddressSanitizer and UndefinedBehaviorSanitizer"
    velmora_configure asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_WERROR=OFF \
        -DVELMORA_BUILD_TESTS=ON -DVELMORA_BUILD_BENCH=OFF -DVELMORA_BUILD_FUZZ=OFF \
        -DVELMORA_SANITIZE=address,undefined || { fail asan "configure"; return; }
    local built=1
    velmora_build asan || built=0
    echo "== asan: ctest"
    run_ctest asan || { fail asan "tests"; return; }
    [ $built -eq 1 ] || fail asan "build (see the compiler errors above)"
}

stage_tsan()
{
    echo "== tsan: build the tests labelled threads with ThreadSanitizer"
    velmora_configure tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_WERROR=OFF \
        -DVELMORA_BUILD_TESTS=ON -DVELMORA_BUILD_BENCH=OFF -DVELMORA_BUILD_FUZZ=OFF \
        -DVELMORA_SANITIZE=thread || { fail tsan "configure"; return; }
    # Test names are their target names, so only those targets are built.
    local tests
    mapfile -t tests < <(ctest --test-dir build/tsan -N -L threads | sed -n 's/^ *Test *#[0-9]*: *//p')
    if [ ${#tests[@]} -eq 0 ]; then
        echo "== tsan: no test carries the label threads; skipped"
        result[tsan]="skipped: no test labelled threads"
        return
    fi
    local built=1
    velmora_build tsan "${tests[@]}" || built=0
    echo "== tsan: ctest -L threads"
    # ThreadSanitizer needs a fixed address-space layout on kernels with
    # large mmap randomisation; setarch -R turns randomisation off.
    # On one CPU Qt's painting code mostly keeps to the calling thread (see
    # scripts/tsan.supp); the workers still interleave. Our own parallel
    # passes (loading, resampling, arrows) take one thread per CPU, so a
    # second run uses every CPU; there the end-to-end test starts the
    # render tool from a process that has threads, which the sanitizer
    # refuses unless told that the child's threads are its own concern.
    local prefix=()
    if setarch "$(uname -m)" -R true 2>/dev/null; then
        prefix+=(setarch "$(uname -m)" -R)
    fi
    local pinned=()
    if command -v taskset >/dev/null && taskset -c 0 true 2>/dev/null; then
        pinned+=(taskset -c 0)
    fi
    "${pinned[@]}" "${prefix[@]}" ctest --test-dir build/tsan --output-on-failure \
        -j "$VELMORA_JOBS" -L threads 2>&1 | tee build/tsan/ctest.log || { fail tsan "tests"; return; }
    echo "== tsan: ctest -L threads on every CPU"
    TSAN_OPTIONS="$TSAN_OPTIONS:die_after_fork=0" "${prefix[@]}" ctest --test-dir build/tsan \
        --output-on-failure -j "$VELMORA_JOBS" -L threads 2>&1 | tee build/tsan/ctest-every-cpu.log \
        || { fail tsan "tests on every CPU"; return; }
    [ $built -eq 1 ] || fail tsan "build (see the compiler errors above)"
}

stage_fuzz()
{
    local seconds=${VELMORA_FUZZ_SECONDS:-60}
    # The loader of the native pair, one target per reader of the other
    # formats and the rasterizer, each with its seed corpus; the time is
    # shared between them.
    local targets=(flowdata_load columntext tecplot netcdf vtklegacy vtkxml mat rasterizer session
        seedlist)
    if ! grep -qs 'fuzz_flowdata_load' tests/fuzz/CMakeLists.txt; then
        echo "== fuzz: no fuzz_flowdata_load target in tests/fuzz; skipped"
        result[fuzz]="skipped: no fuzz target"
        return
    fi
    echo "== fuzz: build ${targets[*]/#/fuzz_} with clang-14"
    CC=clang-14 CXX=clang++-14 velmora_configure fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVELMORA_BUILD_FUZZ=ON -DVELMORA_SANITIZE=address,undefined -DVELMORA_BUILD_TESTS=ON \
        -DVELMORA_BUILD_BENCH=OFF -DVELMORA_WERROR=OFF || { fail fuzz "configure"; return; }
    velmora_build fuzz "${targets[@]/#/fuzz_}" || { fail fuzz "build"; return; }
    local share=$((seconds / ${#targets[@]}))
    [ "$share" -ge 1 ] || share=1
    local target fuzzer seeds runs=0 status summary=""
    mkdir -p build/fuzz/artifacts
    for target in "${targets[@]}"; do
        fuzzer=$(find build/fuzz -type f -name "fuzz_$target" -perm -u+x | head -n 1)
        [ -n "$fuzzer" ] || { fail fuzz "fuzz_$target not found after the build"; return; }
        seeds=tests/fuzz/corpus_$target
        [ "$target" = flowdata_load ] && seeds=tests/fuzz/corpus
        # New inputs go to the first directory, so the checked-in corpus stays as it is.
        mkdir -p "build/fuzz/corpus_$target"
        echo "== fuzz: fuzz_$target for ${share} s on $seeds"
        "$fuzzer" -max_total_time="$share" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
            -artifact_prefix="build/fuzz/artifacts/${target}-" "build/fuzz/corpus_$target" "$seeds" \
            >"build/fuzz/fuzz_$target.log" 2>&1
        status=$?
        tail -n 5 "build/fuzz/fuzz_$target.log"
        if [ $status -ne 0 ]; then
            tail -n 30 "build/fuzz/fuzz_$target.log"
            fail fuzz "fuzz_$target stopped with status $status; inputs in build/fuzz/artifacts/"
            return
        fi
        runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "build/fuzz/fuzz_$target.log" | grep -o '[0-9]*$')
        summary+="$target ${runs:-0}, "
    done
    result[fuzz]="passed: runs per target: ${summary%, }; no crash"
}

for stage in "${stages[@]}"; do
    result[$stage]="passed"
    rm -f "build/$stage/ctest.log"
    "stage_$stage"
done

echo
echo "================ Summary ================"
for stage in "${stages[@]}"; do
    printf '%-8s %s\n' "$stage" "${result[$stage]}"
    if [ -f "build/$stage/ctest.log" ] && [ "$stage" != fuzz ]; then
        sed -n '/tests passed/,$p' "build/$stage/ctest.log" | sed 's/^/         /'
    fi
done
exit $failed
