# Sourced by run.sh and test.sh: makes sure the Debian packages the build needs
# are installed. As root it installs what is missing; otherwise it prints the
# command that would and stops.

KELVARON_PACKAGES=(
    cmake g++ make
    qt6-base-dev
    libjpeg-dev libjpeg-turbo-progs
    libgtest-dev libbenchmark-dev libcli11-dev
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
