# Sourced by the scripts that run the Windows programs under Wine. wine_start BUILD_DIR: the
# prefix inside the Windows build directory (made on first use) and one wineserver for the
# whole run, with Wine's own services started apart from any pipe a test reads. wine_stop ends
# that wineserver and everything it serves.
wine_start() {
  export WINEPREFIX=$1/wineprefix WINEDEBUG=-all
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot --init > "$1/wineboot.log" 2>&1
    wineserver --wait
  fi
  wineserver --persistent
  wineboot < /dev/null > /dev/null 2>&1
}

wine_stop() {
  wineserver --kill || true
}
