#!/usr/bin/env bash
# tools/mingw-libs.sh takes Debian's sources through deb-src twins of the
# machine's own Debian entries, whatever form they are written in: one-line
# (sources.list, sources.list.d/*.list) and deb822 (sources.list.d/*.sources).
# Checks the entries it derives from sample apt folders.
set -euo pipefail
script=$(cd "$(dirname "$0")/../../.." && pwd)/tools/mingw-libs.sh
samples=$(mktemp -d)
trap 'rm -rf "$samples"' EXIT
status=0

mkdir -p "$samples/apt/sources.list.d"
echo 'VERSION_CODENAME=trixie' > "$samples/os-release"
cat > "$samples/apt/sources.list" << 'X'
# the release, with options and a trailing component list
deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://mirror.example/debian trixie main contrib
deb-src http://mirror.example/debian trixie main
  deb http://mirror.example/debian trixie-updates main
deb http://mirror.example/debian trixie-backports main
deb http://mirror.example/debian bookworm main
# deb http://mirror.example/debian trixie non-free
X
cat > "$samples/apt/sources.list.d/security.list" << 'X'
deb [ signed-by=/usr/share/keyrings/debian-archive-keyring.gpg ] http://security.example/debian-security trixie-security main
X
cat > "$samples/apt/sources.list.d/debian.sources" << 'X'
Types: deb deb-src
# a comment inside the stanza
URIs: http://mirror.example/debian
Suites: trixie trixie-updates trixie-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://off.example/debian
Suites: trixie
Components: main
Enabled: no

Types: deb
URIs: https://vendor.example/apt
Suites: nodistro
Components: main
X
cat > "$samples/apt/sources.list.d/inline-key.sources" << 'X'
Types: deb
URIs: http://keyed.example/debian
Suites: trixie-security
Components: main
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 mQINBFake
 -----END PGP PUBLIC KEY BLOCK-----
X
echo 'deb http://ignored.example/debian trixie main' > "$samples/apt/sources.list.d/old.list.disabled"

expected='deb-src [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://mirror.example/debian trixie main contrib
deb-src http://mirror.example/debian trixie-updates main
deb-src [ signed-by=/usr/share/keyrings/debian-archive-keyring.gpg ] http://security.example/debian-security trixie-security main

Types: deb-src
Suites: trixie trixie-updates
URIs: http://mirror.example/debian
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
Suites: trixie-security
URIs: http://keyed.example/debian
Components: main
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 mQINBFake
 -----END PGP PUBLIC KEY BLOCK-----'
got=$(VISTREL_APT_ETC="$samples/apt" VISTREL_OS_RELEASE="$samples/os-release" bash "$script" --deb-src)
if [ "$got" != "$expected" ]; then
    echo "derived entries differ from the expected ones:"
    diff <(echo "$expected") <(echo "$got") || true
    status=1
fi

# Nothing of this release: a clear refusal, not an empty configuration.
echo 'VERSION_CODENAME=forky' > "$samples/os-release"
if message=$(VISTREL_APT_ETC="$samples/apt" VISTREL_OS_RELEASE="$samples/os-release" bash "$script" --deb-src 2>&1); then
    echo "a machine without entries for its release was accepted: $message"
    status=1
elif ! grep -q "no Debian entry for this release" <<< "$message"; then
    echo "unclear refusal: $message"
    status=1
fi
exit $status
