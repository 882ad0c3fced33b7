#!/bin/sh
# Redraws the sample figures of the README with the program given (by
# default the default preset's build): an ordinary design, the largest
# design, and a boundary pair with a lower (futility) boundary.
set -eu
cd "$(dirname "$0")"
exe=${1:-../build/default/app/stopbound}
"$exe" design 30 0.2 0.1 --no-boundary-file --plot design-k30.svg > /dev/null
"$exe" design 255 0.2 0.05 --no-boundary-file --plot design-k255.svg > /dev/null
"$exe" evaluate futility-k40.dat --plot evaluate-futility-k40.svg > /dev/null
