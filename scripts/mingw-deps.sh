# Shared by build-openssl-mingw.sh and build-mosquitto-mingw.sh (sourced, not
# run): the cache of the Windows builds' libraries, the fetching of Debian's
# source packages and the build keys.
#
# The cache lies outside the work tree, so that removing build/ (or another
# work tree of the project) does not rebuild:
#   $VD_DEPS_CACHE, default ${XDG_CACHE_HOME:-$HOME/.cache}/vd-deps
#     apt/                          private apt lists and package cache
#     src/<package>_<version>/      an unpacked Debian source package
#     <arch>/<name>-<version>-<key>/ one build: include/, lib/, share/doc/<name>/
#     <arch>/<name>                 link to the build that the last run chose;
#                                   the CMake find modules look there
# A build's key is a hash of everything that changes its output besides the
# source version (options, compiler, the libraries it is built against). A
# build folder counts only once its stamp file is written, as its last step.
# The source package is fetched once, the newest of bookworm and
# bookworm-updates (and bookworm-security when VD_DEBIAN_SECURITY_MIRROR names
# its mirror); VD_DEPS_REFRESH=1 fetches the newest one again.

vd_cache=${VD_DEPS_CACHE:-${XDG_CACHE_HOME:-${HOME:?HOME is not set: set VD_DEPS_CACHE}/.cache}/vd-deps}
mkdir -p "$vd_cache"
vd_cache=$(cd "$vd_cache" && pwd -P)

# One build at a time in the cache, across work trees.
vd_lock() {
  exec 9>"$vd_cache/.lock"
  flock 9
}

vd_check_arches() { # script name, architectures...
  local name=$1 arch
  shift
  for arch in "$@"; do
    case "$arch" in
      i686|x86_64) ;;
      *) echo "$name: unknown architecture '$arch'" >&2; exit 2 ;;
    esac
  done
}

# The first 12 hex digits of the SHA-256 of the text on standard input.
vd_hash() {
  sha256sum | cut -c1-12
}

# The URI of the machine's Debian bookworm mirror (one-line or deb822 format).
vd_debian_mirror() {
  local files=() uri=""
  [ -f /etc/apt/sources.list ] && files+=(/etc/apt/sources.list)
  for f in /etc/apt/sources.list.d/*.list; do [ -f "$f" ] && files+=("$f"); done
  [ ${#files[@]} -gt 0 ] && uri=$(sed -e 's/\[[^]]*\]//' "${files[@]}" |
    awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }')
  if [ -z "$uri" ]; then
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] || continue
      uri=$(awk 'BEGIN { RS = ""; FS = "\n" }
        {
          u = ""; s = 0
          for (i = 1; i <= NF; i++) {
            if ($i ~ /^URIs:/) { split($i, w, /[ \t]+/); u = w[2] }
            if ($i ~ /^Suites:/ && $i ~ /[ \t]bookworm([ \t]|$)/) s = 1
          }
          if (s && u != "") { print u; exit }
        }' "$f")
      [ -n "$uri" ] && break
    done
  fi
  echo "${uri:-http://deb.debian.org/debian}"
}

# The unpacked source of a package in the cache, fetching it when there is
# none (or VD_DEPS_REFRESH=1): prints the folder src/<package>_<version>,
# which holds the .dsc and the unpacked tree (the one holding <marker file>).
vd_source() { # package, marker file inside the tree
  local pkg=$1 marker=$2 d best
  if [ "${VD_DEPS_REFRESH:-0}" != 1 ]; then
    # The newest version fetched so far.
    best=$(for d in "$vd_cache/src/${pkg}"_*/; do
             if [ -f "$d/unpacked" ]; then echo "${d%/}"; fi
           done | sort -V | tail -n 1)
    [ -n "$best" ] && { echo "$best"; return; }
  fi
  local apt_dir=$vd_cache/apt main sec key=/usr/share/keyrings/debian-archive-keyring.gpg
  main=${VD_DEBIAN_MIRROR:-$(vd_debian_mirror)}
  # The security suite only where its sources can be had (VD_DEBIAN_SECURITY_MIRROR).
  sec=${VD_DEBIAN_SECURITY_MIRROR:-}
  mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  {
    echo "deb-src [signed-by=$key] $main bookworm main"
    echo "deb-src [signed-by=$key] $main bookworm-updates main"
    [ -z "$sec" ] || echo "deb-src [signed-by=$key] $sec bookworm-security main"
  } > "$apt_dir/sources.list"
  local apt_opts=(
    -o Dir::Etc::SourceList="$apt_dir/sources.list"
    -o Dir::Etc::SourceParts="$apt_dir/sources.list.d"
    -o Dir::State::Lists="$apt_dir/lists"
    -o Dir::Cache="$apt_dir/cache"
  )
  # apt's download user cannot write into the cache: when run as root,
  # download as root (apt would fall back to it anyway, with a warning).
  [ "$(id -u)" -eq 0 ] && apt_opts+=(-o APT::Sandbox::User=root)
  echo "fetching the $pkg source package from $main${sec:+ and $sec}" >&2
  apt-get "${apt_opts[@]}" update -qq >&2
  local tmp=$vd_cache/src/.fetch-$pkg
  rm -rf "$tmp" && mkdir -p "$tmp"
  (cd "$tmp" && apt-get "${apt_opts[@]}" source -qq "$pkg" >/dev/null)
  local dsc version
  dsc=$(ls "$tmp/${pkg}"_*.dsc 2>/dev/null | head -n 1)
  [ -n "$dsc" ] && ls "$tmp"/*/"$marker" >/dev/null 2>&1 ||
    { echo "no unpacked $pkg source under $tmp" >&2; return 1; }
  version=$(basename "$dsc" .dsc)
  version=${version#"${pkg}"_}
  d=$vd_cache/src/${pkg}_$version
  rm -rf "$d" && mv "$tmp" "$d"
  touch "$d/unpacked"
  echo "$d"
}

# The Debian version of a source folder made by vd_source.
vd_source_version() { # folder, package
  local b
  b=$(basename "$1")
  echo "${b#"$2"_}"
}

# The unpacked tree inside a source folder: the subfolder holding <marker>.
vd_source_tree() { # folder, marker file
  local d
  for d in "$1"/*/; do
    [ -f "$d/$2" ] && { echo "${d%/}"; return; }
  done
  return 1
}

# Points <arch>/<name> at the build folder <arch>/<folder name>.
vd_select() { # arch, name, build folder name
  ln -sfn "$3" "$vd_cache/$1/$2"
}
