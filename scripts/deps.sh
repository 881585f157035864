# Debian packages of the build, the tests and the program; sourced by the scripts.
KIVO_BUILD_PACKAGES="cmake g++ make qt6-base-dev qt6-base-dev-tools libgl-dev libgtest-dev
  libreoffice-dev libsqlite3-dev libpq-dev libcpp-httplib-dev libsodium-dev libssl-dev pkg-config
  libqrencode-dev"
KIVO_RUN_PACKAGES="libqt6widgets6 libqt6printsupport6 libsqlite3-0 qt6-qpa-plugins qt6-translations-l10n
  fonts-arphic-uming libreoffice-calc-nogui libpq5 libqrencode4 libcpp-httplib0.11 libsodium23"
KIVO_TEST_PACKAGES="clang libclang-rt-14-dev python3 python3-pil python3-xlrd poppler-utils zbar-tools xvfb xauth locales
  postgresql chromium"

# Generates locale `$1` (for example de_DE.UTF-8) unless the system has it already.
kivo_locale() {
    local name="$1"
    local wanted
    wanted="$(echo "$name" | tr '[:upper:]' '[:lower:]' | sed 's/utf-8/utf8/')"
    locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]' | grep -qx "$wanted" && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Generating the locale $name"
    $sudo localedef -i "${name%%.*}" -f "${name#*.}" "$name"
}

# Installs the packages that are missing, with one apt-get update first.
kivo_install() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}
