# Fetching Debian source packages for the project's cross builds of its
# libraries (sourced by scripts/mingw-deps.sh and scripts/wasm-deps.sh).
# Nothing is fetched from anywhere but the Debian archive that apt is set up
# with. The sourcing script names itself in $deps_name for its messages.

# apt-get source needs deb-src entries; add them beside Debian's own when none exist.
ensure_deb_src() {
  if grep -rqs -E '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then return; fi
  local src=/etc/apt/sources.list.d/debian.sources out=/etc/apt/sources.list.d/ferrumkit-deb-src.sources
  if [ -f "$src" ]; then
    sed -e 's/^Types:.*/Types: deb-src/' "$src" > "$out"
  elif [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > /etc/apt/sources.list.d/ferrumkit-deb-src.list
  else
    echo "${deps_name:-deps}: no Debian sources to derive deb-src entries from" >&2; exit 1
  fi
  apt-get update -qq
}

# Downloads a source package (the newest version the archive will hand out)
# and unpacks it once; prints the unpacked directory.
fetch_source() {
  local package=$1 work=$2
  mkdir -p "$work"
  if [ ! -d "$work/src" ]; then
    apt-cache showsrc "$package" 2>/dev/null | grep -q '^Version:' || ensure_deb_src
    local version got=""
    for version in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -V -r); do
      if (cd "$work" && apt-get source -qq --download-only "$package=$version") >/dev/null 2>&1; then
        got=$version; break
      fi
    done
    [ -n "$got" ] || { echo "${deps_name:-deps}: could not download the source of $package" >&2; exit 1; }
    (cd "$work" && dpkg-source --no-check -x "$(ls ./*.dsc | head -1)" src) >/dev/null
  fi
  echo "$work/src"
}
