# Environment shared by the test and run scripts (sourced).
# Where this machine cannot run 32-bit x86 code itself, setup routes it
# through user-mode emulation; leak checking does not work there.
if [ -f "${ZOL_EMULATION_MARK:-/var/lib/zol/emulated-i386}" ]; then
  export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
  export ZOL_EMULATED=1
fi
export ZOL_WINEPREFIX="${ZOL_WINEPREFIX:-${HOME:-/tmp}/.cache/zol/wineprefix}"
