# Sourced by the bench scripts. install_packages installs the Debian
# packages it is given (none: nothing to do), through sudo unless root.
install_packages() {
    [ $# -gt 0 ] || return 0
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "installing $*" >&2
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$@" >/dev/null
}
