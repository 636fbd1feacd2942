# Sourced by the Windows scripts: where the mingw libraries live and how Wine
# runs the cross-built programs (private prefix under build-win/, quiet, the
# DLL folders on its search path, no Mono or Gecko installers).
export FK_MINGW_PREFIX=${FK_MINGW_PREFIX:-/var/cache/ferrumkit-mingw/prefix}
export WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build-win/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEPATH="Z:${FK_MINGW_PREFIX//\//\\}\\bin;Z:\\usr\\x86_64-w64-mingw32\\lib"
