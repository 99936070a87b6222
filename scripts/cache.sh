# The machine's cache of built parts that are kept under the hash of their
# inputs (the i486 runtimes, the live kernel, BusyBox): a second clone or a
# new build folder on the same machine copies them instead of building them
# again, which takes the kernel alone 10-30 minutes. A part is found only
# under the key of exactly the inputs it was built from, so a cached part is
# never a stale one. Sourced, not run.
#
#   TORV_CACHE=FOLDER   where the parts are kept (default: ~/.cache/torvacin,
#                       or $XDG_CACHE_HOME/torvacin)
#   TORV_CACHE=off      neither read nor write a cache

# The cache's folder, or status 1 when there is none.
torv_cache_dir() {
  local c=${TORV_CACHE:-}
  [ "$c" = off ] && return 1
  if [ -z "$c" ]; then
    if [ -n "${XDG_CACHE_HOME:-}" ]; then
      c=$XDG_CACHE_HOME/torvacin
    elif [ -n "${HOME:-}" ] && [ "$HOME" != / ]; then
      c=$HOME/.cache/torvacin
    else
      return 1
    fi
  fi
  mkdir -p "$c" 2>/dev/null && [ -w "$c" ] || return 1
  echo "$c"
}

# torv_cache_fetch NAME DEST: copies the cached folder NAME to DEST (which
# must not exist yet); status 1 when the cache does not hold it.
torv_cache_fetch() {
  local name=$1 dest=$2 c
  c=$(torv_cache_dir) || return 1
  [ -f "$c/$name/.complete" ] || return 1
  rm -rf "$dest.fetch"
  if cp -a "$c/$name" "$dest.fetch" 2>/dev/null && rm -f "$dest.fetch/.complete" &&
    mv -T "$dest.fetch" "$dest" 2>/dev/null; then
    echo "-- $name: taken from the cache in $c" >&2
    return 0
  fi
  rm -rf "$dest.fetch"
  return 1
}

# torv_cache_store SRC NAME: keeps a copy of the folder SRC as NAME (the
# part's kind, a dash and its key). Of each kind the two newest stay. A
# cache that cannot be written is no error.
torv_cache_store() {
  local src=$1 name=$2 c tmp kind old n=0
  c=$(torv_cache_dir) || return 0
  [ -f "$c/$name/.complete" ] && return 0
  tmp=$(mktemp -d "$c/.store.XXXXXX" 2>/dev/null) || return 0
  if cp -a "$src/." "$tmp/" 2>/dev/null && touch "$tmp/.complete" && chmod 755 "$tmp" &&
    mv -T "$tmp" "$c/$name" 2>/dev/null; then
    touch "$c/$name"
  else
    rm -rf "$tmp"
    return 0
  fi
  kind=${name%-*}
  # shellcheck disable=SC2012 # names are ours: kind-hexkey
  for old in $(ls -1td "$c/$kind"-* 2>/dev/null); do
    old=${old##*/}
    # Only this kind: the rest of the name is the key alone.
    case ${old#"$kind"-} in *-*) continue ;; esac
    [ "$old" = "$name" ] && continue
    n=$((n + 1))
    if [ $n -ge 2 ]; then rm -rf "${c:?}/$old"; fi
  done
  # The scripts that call this run under set -e: the loop's last test is no
  # failure of theirs.
  return 0
}
