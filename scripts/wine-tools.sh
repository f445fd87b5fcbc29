# The Windows side as a host developer gets it, under Wine: the SDK archive
# of each width (contents, the MSVC import library's names), the C example
# host built against the unpacked archive, and kestra-play.exe playing the
# built-in clip and a Y4M clip in the RGB 5-6-5 and GDI modes, its snapshot
# and WAV checked against the Linux build's output for the same input.
#
# Sourced by scripts/wine-test after its suite, which has set DISPLAY,
# WINEPREFIX, WINEDEBUG, HOME (ALSA file sink), `work`, `run_timeout` and
# the `summaries` array. run_tool_checks returns non-zero on a failure.

tools_root=$(pwd)

# Compares a snapshot with a reference picture and a WAV with the expected
# sound. A leading run of the library's lead-in fill (0x64) is skipped in
# both WAVs. Prints one line of figures; exit 1 when out of tolerance.
tools_compare() {  # snapshot.png reference.png out.wav expected.wav tolerance min-seconds
    python3 - "$@" <<'PY'
import struct, sys, zlib

def png(path):
    data = open(path, 'rb').read()
    pos, idat = 8, b''
    while pos < len(data):
        n, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        pos += 12 + n
        if kind == b'IHDR':
            w, h, depth, colour = struct.unpack('>IIBB', body[:10])
            assert depth == 8 and colour == 2, 'expected 8-bit RGB'
        elif kind == b'IDAT':
            idat += body
    raw, stride, rows, prev = zlib.decompress(idat), w * 3, [], bytearray(w * 3)
    for y in range(h):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 3] if i >= 3 else 0
            b, c = prev[i], prev[i - 3] if i >= 3 else 0
            if f == 1: line[i] = (line[i] + a) & 255
            elif f == 2: line[i] = (line[i] + b) & 255
            elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prev = line
    return w, h, rows

def samples(path):
    data = open(path, 'rb').read()
    pos = 12
    while pos + 8 <= len(data):
        kind, n = data[pos:pos + 4], struct.unpack('<I', data[pos + 4:pos + 8])[0]
        if kind == b'fmt ': channels, rate = struct.unpack('<HI', data[pos + 10:pos + 16])
        if kind == b'data':
            pcm = data[pos + 8:pos + 8 + n]
            lead = len(pcm) - len(pcm.lstrip(b'\x64'))
            pcm = pcm[lead - lead % 4:]
            return channels * rate, struct.unpack('<%dh' % (len(pcm) // 2), pcm[:len(pcm) // 2 * 2])
        pos += 8 + n + (n & 1)
    raise SystemExit('no data chunk in ' + path)

shot, ref, wav, expected, tol, min_seconds = sys.argv[1:7]
tol, min_seconds = int(tol), float(min_seconds)
w, h, got = png(shot)
rw, rh, want = png(ref)
if (w, h) != (rw, rh):
    raise SystemExit('snapshot %dx%d, expected %dx%d' % (w, h, rw, rh))
# Wine's OpenGL renderer shows DirectDraw surfaces with compressed levels
# (255 as 239): each channel is fitted with gain and offset first, and the
# fit is reported; a picture that is wrong, not just levelled, still fails.
gains = []
for ch in range(3):
    xs = [want[y][x] for y in range(0, h, 2) for x in range(ch, w * 3, 6)]
    ys = [got[y][x] for y in range(0, h, 2) for x in range(ch, w * 3, 6)]
    n, mx, my = len(xs), sum(xs) / len(xs), sum(ys) / len(ys)
    var = sum((a - mx) ** 2 for a in xs) or 1
    a = sum((p - mx) * (q - my) for p, q in zip(xs, ys)) / var
    gains.append((a, my - a * mx))
if min(g[0] for g in gains) < 0.85 or max(g[0] for g in gains) > 1.1:
    raise SystemExit('levels out of range: gains %s' % ['%.3f' % g[0] for g in gains])
for y in range(h):
    for x in range(w * 3):
        a, b = gains[x % 3]
        got[y][x] = max(0, min(255, int(round((got[y][x] - b) / a))))
worst, total, beyond = 0, 0, 0
for y in range(h):
    for x in range(w * 3):
        d = abs(got[y][x] - want[y][x])
        total += d
        if d > tol:
            # DirectDraw under Wine may place the picture one pixel off.
            d = min(abs(got[y][x] - want[yy][xx]) for yy in range(max(0, y - 1), min(h, y + 2))
                    for xx in range(max(x % 3, x - 3), min(w * 3, x + 4), 3))
            if d > tol: beyond += 1
        worst = max(worst, d)
share = beyond / (w * h * 3)
rate, out = samples(wav)
_, exp = samples(expected)
common = min(len(out), len(exp))
audio_worst = max((abs(a - b) for a, b in zip(out[:common], exp[:common])), default=0)
seconds = len(out) / rate
print('picture %dx%d levels x%.3f%+.1f, mean diff %.2f, %.3f%% beyond %d; sound %.2f s, max diff %d'
      % (w, h, sum(g[0] for g in gains) / 3, sum(g[1] for g in gains) / 3, total / (w * h * 3),
         share * 100, tol, seconds, audio_worst))
ok = share <= 0.03 and audio_worst <= 2 and seconds >= min_seconds
if min_seconds == 0 and len(out) != len(exp): ok = False  # the whole file, exactly
sys.exit(0 if ok else 1)
PY
}

# A 320x240 clip of moving colour blocks and 0.6 s of 16-bit stereo sound.
tools_write_inputs() {  # dir
    python3 - "$1" <<'PY'
import math, struct, sys
d = sys.argv[1]
w, h = 320, 240
with open(d + '/clip.y4m', 'wb') as f:
    f.write(b'YUV4MPEG2 W%d H%d F25:1 Ip A1:1 C420jpeg\n' % (w, h))
    for i in range(25):
        y = bytes((40 + 3 * i + (x // 40) * 20) & 255 for x in range(w)) * h
        u = bytes((60 + ((x + 4 * i) // 20) * 25) & 255 for x in range(w // 2)) * (h // 2)
        v = bytes((200 - (r // 15) * 10) & 255 for r in range(h // 2) for _ in range(w // 2))
        f.write(b'FRAME\n' + y + u + v)
frames = 26460
pcm = b''.join(struct.pack('<hh', int(9000 * math.sin(n / 20.0)), (n * 37) % 20000 - 10000)
               for n in range(frames))
with open(d + '/sound.wav', 'wb') as f:
    f.write(b'RIFF' + struct.pack('<I', 36 + len(pcm)) + b'WAVEfmt ' +
            struct.pack('<IHHIIHH', 16, 1, 2, 44100, 44100 * 4, 4, 16) +
            b'data' + struct.pack('<I', len(pcm)) + pcm)
PY
}

# The archive: build it, unpack it, check what a host needs is in it.
tools_check_archive() {  # preset
    local preset=$1 dir="$work/sdk-$1" zip missing=""
    cmake --build "build/$preset" --target package >"$work/package-$preset.log" 2>&1 || {
        tail -20 "$work/package-$preset.log"
        summaries+=("wine $preset SDK archive: FAILED to build")
        return 1
    }
    zip=$(ls "build/$preset"/kestra-*-win*.zip | head -1)
    rm -rf "$dir" && mkdir -p "$dir" && unzip -q "$zip" -d "$dir" || return 1
    sdk=$(ls -d "$dir"/kestra-*)
    for f in bin/kestra.dll bin/kestra-play.exe include/kestra/kestra.h lib/libkestra.dll.a \
        lib/kestra.def lib/kestra.lib lib/cmake/kestra/kestraConfig.cmake README-windows.txt; do
        [ -f "$sdk/$f" ] || missing+=" $f"
    done
    local nm=llvm-nm prefix=__imp_ names expected count contract list="$tools_root/src/api/exports.txt"
    command -v $nm >/dev/null || nm=llvm-nm-14
    [ "$preset" = mingw32 ] && prefix=__imp__
    # kestra.lib must import exactly the names of exports.txt (the contract's,
    # then the extensions after its "# Extensions" line).
    names=$($nm "$sdk/lib/kestra.lib" 2>/dev/null |
        sed -n "s/^.* T ${prefix}\(KESTRA_[A-Za-z0-9_]*\)\(@[0-9]*\)\?$/\1/p" | sort -u)
    expected=$(grep '^KESTRA_' "$list" | sort)
    count=$(echo "$expected" | wc -l)
    contract=$(sed '/^# *Extensions$/q' "$list" | grep -c '^KESTRA_')
    local want_open="${prefix}KESTRA_DWOpenDraw"
    [ "$preset" = mingw32 ] && want_open+="@4"
    if [ -n "$missing" ] || [ "$names" != "$expected" ] || ! $nm "$sdk/lib/kestra.lib" | grep -q " $want_open$"; then
        local lacks extra
        lacks=$(comm -23 <(echo "$expected") <(echo "$names") | tr '\n' ' ')
        extra=$(comm -13 <(echo "$expected") <(echo "$names") | tr '\n' ' ')
        summaries+=("wine $preset SDK archive: FAILED, missing:${missing:- none}; kestra.lib lacks: ${lacks:-none}; imports unlisted: ${extra:-none}")
        return 1
    fi
    summaries+=("wine $preset SDK archive: ok, $(basename "$zip"), $(unzip -Z1 "$zip" | grep -vc '/$') files, kestra.lib: the $count names of src/api/exports.txt ($contract + $((count - contract)) extensions) such as $want_open")
}

# The C example, built against the unpacked archive as a host would, run once.
tools_run_example() {  # preset sdk
    local preset=$1 sdk=$2 build="$work/example-$1" toolchain=cmake/mingw-i686.cmake out
    [ "$preset" = mingw64 ] && toolchain=cmake/mingw-x86_64.cmake
    if ! { cmake -S examples -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tools_root/$toolchain" \
        -Dkestra_DIR="$sdk/lib/cmake/kestra" && cmake --build "$build"; } >"$work/example-$preset.log" 2>&1; then
        tail -20 "$work/example-$preset.log"
        summaries+=("wine $preset example host: FAILED to build against the archive")
        return 1
    fi
    cp "$sdk/bin/kestra.dll" "$build/"
    out=$(cd "$build" && timeout "$run_timeout" wine kestra_example.exe 2>/dev/null | tr -d '\r')
    if [[ "$out" != "shown 50 frames, "* ]]; then
        summaries+=("wine $preset example host: FAILED ($out)")
        return 1
    fi
    summaries+=("wine $preset example host: ok, $out")
}

# A Unix path as the prefix's Z: drive shows it. Not winepath: that starts a
# Wine process of its own, and one that fails under load hands kestra-play an
# empty name, which reads as "no file" rather than as an error.
win_path() { printf 'Z:%s' "${1//\//\\}"; }

# kestra-play.exe from the archive, in one mode, against the Linux reference.
tools_run_play() {  # preset sdk clip-name mode overrides [clip wav]
    local preset=$1 sdk=$2 name=$3 mode=$4 overrides=$5
    shift 5
    local files=() min=3.5 tol=4 run="$work/play-$preset-$name-$mode" figures
    mkdir -p "$run"
    [ $# -gt 0 ] && files=("$(win_path "$1")" "$(win_path "$2")") && min=0
    [ "$mode" = rgb565 ] && tol=12  # 5-6-5 keeps the top 5 or 6 bits of each channel
    (cd "$sdk/bin" && WINEDLLOVERRIDES="$overrides" timeout "$run_timeout" wine kestra-play.exe \
        --snapshot "$(win_path "$run/shot.png")" --audio-out "$(win_path "$run/sound.wav")" \
        "${files[@]}") >"$run/log" 2>&1
    local rc=$?
    if [ "$rc" -ne 0 ]; then
        tail -5 "$run/log"
        summaries+=("wine $preset kestra-play $name $mode: FAILED (exit $rc)")
        return 1
    fi
    local expected_wav="$work/ref-$name/sound.wav"
    [ $# -gt 0 ] && expected_wav=$2
    if figures=$(tools_compare "$run/shot.png" "$work/ref-$name/shot.png" "$run/sound.wav" \
        "$expected_wav" "$tol" "$min" 2>&1); then
        summaries+=("wine $preset kestra-play $name $mode: ok, $figures")
        return 0
    fi
    tail -5 "$run/log"
    summaries+=("wine $preset kestra-play $name $mode: FAILED, $figures")
    return 1
}

# The Linux player's snapshot (GDI mode: the library's own conversion) and sound.
tools_reference() {  # name [clip wav]
    local name=$1 dir="$work/ref-$1"
    shift
    mkdir -p "$dir"
    build/release/tools/kestra-play/kestra-play --headless --adapter none \
        --snapshot "$dir/shot.png" --audio-out "$dir/sound.wav" "$@" >"$dir/log" 2>&1
}

run_tool_checks() {
    local failed_tools=0 preset
    kestra_need python3 unzip llvm || {
        summaries+=("wine tools: could not install what they need")
        return 1
    }
    # The reference player is the Linux build scripts/demo makes.
    if ! { cmake --preset release -DKESTRA_BUILD_TOOLS=ON -DKESTRA_BUILD_TESTS=OFF &&
        cmake --build build/release --target kestra-play; } >"$work/release.log" 2>&1; then
        tail -20 "$work/release.log"
        summaries+=("wine tools: the Linux reference player did not build")
        return 1
    fi
    tools_write_inputs "$work"
    tools_reference builtin && tools_reference y4m "$work/clip.y4m" "$work/sound.wav" || {
        summaries+=("wine tools: the Linux reference player failed")
        return 1
    }
    for preset in mingw32 mingw64; do
        tools_check_archive "$preset" || { failed_tools=1; continue; }
        [ "$preset" = mingw32 ] && [ "${wine_runs_32:-1}" = 0 ] && continue
        tools_run_example "$preset" "$sdk" || failed_tools=1
        tools_run_play "$preset" "$sdk" builtin rgb565 "" || failed_tools=1
        tools_run_play "$preset" "$sdk" builtin gdi "ddraw=d" || failed_tools=1
        tools_run_play "$preset" "$sdk" y4m rgb565 "" "$work/clip.y4m" "$work/sound.wav" ||
            failed_tools=1
        tools_run_play "$preset" "$sdk" y4m gdi "ddraw=d" "$work/clip.y4m" "$work/sound.wav" ||
            failed_tools=1
    done
    return "$failed_tools"
}
