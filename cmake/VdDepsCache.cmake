# The cache that scripts/build-openssl-mingw.sh and build-mosquitto-mingw.sh
# build the Windows builds' libraries into (scripts/mingw-deps.sh), by the
# same rule: $VD_DEPS_CACHE, else $XDG_CACHE_HOME/vd-deps, else
# $HOME/.cache/vd-deps. <cache>/<arch>/openssl and <cache>/<arch>/mosquitto
# name the builds the scripts chose last.
include_guard(GLOBAL)
if(NOT "$ENV{VD_DEPS_CACHE}" STREQUAL "")
  set(vd_deps_cache_default "$ENV{VD_DEPS_CACHE}")
elseif(NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
  set(vd_deps_cache_default "$ENV{XDG_CACHE_HOME}/vd-deps")
else()
  set(vd_deps_cache_default "$ENV{HOME}/.cache/vd-deps")
endif()
set(VD_DEPS_CACHE "${vd_deps_cache_default}" CACHE PATH
    "Cache of the Windows builds' libraries (scripts/mingw-deps.sh)")
unset(vd_deps_cache_default)
