# Installs the Debian packages a step needs, only when something is missing.
# Usage (sourced): kestra_need PACKAGE...
kestra_need() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "need root to install: ${missing[*]}" >&2
        return 1
    fi
    if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
        ! dpkg --print-foreign-architectures | grep -q i386; then
        dpkg --add-architecture i386
        unset KESTRA_APT_UPDATED  # the new architecture's lists are not there yet
    fi
    if [ -z "${KESTRA_APT_UPDATED:-}" ]; then
        apt-get update -qq
        export KESTRA_APT_UPDATED=1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# FFmpeg's libraries: kestra-play (Linux) opens MP4, MKV and the rest with
# them; the library itself never links them.
KESTRA_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libsdl2-dev libfreetype-dev
    libfontconfig-dev fonts-dejavu-core libyuv-dev libpng-dev libavformat-dev libavcodec-dev
    libswscale-dev libswresample-dev libavutil-dev)
# ffmpeg: kestra-play's tests make their clips with it (Y4M, MP4, MKV, damaged
# copies) and check the picture against its own conversion.
KESTRA_TEST_PACKAGES=(libgtest-dev libgmock-dev binutils ffmpeg)
# The Python binding: its suite runs on Debian's interpreter (NumPy for the
# array rows), and its sdist and wheel build offline with build's --no-isolation.
KESTRA_PYTHON_PACKAGES=(python3 python3-numpy python3-setuptools python3-wheel python3-pip
    python3-build python3-venv)
# The benchmarks: scripts/test builds them, scripts/bench runs them.
KESTRA_BENCH_PACKAGES=(libbenchmark-dev libswscale-dev)
# llvm: llvm-dlltool makes kestra.lib, the import library for MSVC hosts.
KESTRA_MINGW_PACKAGES=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
    binutils-mingw-w64-x86-64 llvm)
# Wine with its default Direct3D renderer (OpenGL) needs Mesa for both widths.
KESTRA_WINE_PACKAGES=(wine wine64 wine32:i386 xvfb libasound2 libasound2:i386
    libgl1-mesa-dri libglx-mesa0 libgl1 libgl1-mesa-dri:i386 libglx-mesa0:i386 libgl1:i386)
# Mono: the C# binding (Kestra.dll) and its suite; mcs builds against Mono's
# 4.5 profile (mscorlib 4.0.0.0), which .NET Framework 4.6.1+ and .NET 6+ load.
KESTRA_DOTNET_PACKAGES=(mono-mcs mono-runtime)
