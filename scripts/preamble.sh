# Sourced by the entry points (test.sh, demo.sh, bench.sh, package.sh): what
# each needs before it can start.
#
# Sets $root, the source tree, and $build, the build folder
# ($QUILLON_BUILD_DIR or build/, as an absolute path). Then
#   quillon_preamble [cmake --build arguments]
# installs what is missing from Debian's packages (setup.sh) and configures
# and builds in $build (build.sh); a script may point $build elsewhere first.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath -m "${QUILLON_BUILD_DIR:-$root/build}")

quillon_preamble() {
  "$root/scripts/setup.sh"
  QUILLON_BUILD_DIR="$build" "$root/scripts/build.sh" "$@"
}
