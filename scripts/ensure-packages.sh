# Sourced by run.sh and test.sh: makes sure the Debian packages the build needs
# are installed. As root it installs what is missing; otherwise it prints the
# command that would and stops. ensure_comma_locale (test.sh) does the same for a
# locale with a decimal comma.

KELVARON_PACKAGES=(
    cmake g++ make
    qt6-base-dev
    libjpeg-dev libjpeg-turbo-progs libpng-dev libtiff-dev
    libgtest-dev libbenchmark-dev libcli11-dev
    chromium
    pybind11-dev python3-dev python3-numpy python3-pytest python3-opencv
)

ensure_packages() {
    local missing=() package
    for package in "${KELVARON_PACKAGES[@]}" "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing Debian packages: ${missing[*]}" >&2
        echo "Install them with:" >&2
        echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing missing Debian packages: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Generates de_DE.UTF-8 unless a locale with a decimal comma is installed already:
# FormatCentre.IgnoresTheLocale needs one, skips without it and under CI=true fails.
# Without root it prints the commands, and stops only under CI=true.
ensure_comma_locale() {
    # grep reads the whole list: with -q it could stop early and, under pipefail,
    # make locale's broken pipe count as not found.
    if locale -a 2>/dev/null | grep -Eix '(de_DE|fr_FR|ru_RU|nl_NL)\.utf-?8' >/dev/null; then
        return 0
    fi
    if [ "$(id -u)" -ne 0 ]; then
        echo "No locale with a decimal comma is installed. Generate one with:" >&2
        if ! dpkg-query -W -f='${Status}' locales 2>/dev/null | grep -q 'install ok installed'; then
            echo "  sudo apt-get update && sudo apt-get install -y locales" >&2
        fi
        echo "  sudo sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen" >&2
        echo "  sudo locale-gen" >&2
        if [ "${CI:-}" = true ]; then
            exit 1
        fi
        return 0
    fi
    ensure_packages locales
    echo "Generating the locale de_DE.UTF-8"
    # Enabled in /etc/locale.gen rather than made with localedef alone, so that the
    # next locale-gen (an upgrade of the locales package runs one) keeps it.
    if [ -f /etc/locale.gen ]; then
        sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    fi
    if ! grep -qx 'de_DE.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
        echo 'de_DE.UTF-8 UTF-8' >>/etc/locale.gen
    fi
    locale-gen >/dev/null
}
