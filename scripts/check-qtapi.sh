#!/usr/bin/env bash
# Finds Qt calls newer than 5.11 in the sources: the panels' desktops ship
# Qt 5.11 or 5.12, while development machines have 5.15. Prints every hit
# with the Qt version that added the call; exit status 1 when there are any.
#   scripts/check-qtapi.sh [source folder]
set -uo pipefail
ROOT="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"

# pattern (extended regex) | added in
CHECKS=(
  'Qt::(SkipEmptyParts|KeepEmptyParts)|5.14 (use QString::SkipEmptyParts)'
  '\bQRecursiveMutex\b|5.14 (use QMutex(QMutex::Recursive))'
  'Qt::(endl|flush|hex|dec|fixed|ws)\b|5.14 (use endl, flush, hex ... unqualified)'
  '\bsplit\([^;]*Qt::SplitBehavior|5.14'
  '\b(QStringView|QStringRef)\b[^;]*\.split\(|5.14'
  '\bQ_DISABLE_COPY_MOVE\b|5.13'
  '\b(qScopeGuard|QScopeGuard)\b|5.12'
  '\bQCbor[A-Za-z]*\b|5.12'
  '(anchoredPattern|wildcardToRegularExpression)\(|5.12'
  '\.swapItemsAt\(|5.13'
  '\.callOnTimeout\(|5.12'
  '\b(startOfDay|endOfDay)\(|5.14'
  '\bQColorConstants\b|5.14'
  '&Q(Abstract|Tcp|Udp|Local)Socket::errorOccurred\b|5.15 (use error)'
  '&QNetworkReply::errorOccurred\b|5.15 (use error)'
  'Qt::ReturnByValue\b|5.15'
  '\bQProcess::splitCommand\b|5.15'
  '\.moveToTrash\(|5.15'
  'Qt::MatchRegularExpression\b|5.15'
  '\bQ(Set|List|Vector)<[^>]*>\([A-Za-z_.]+(begin|cbegin)\(\)|5.14 (range constructors)'
  '\bQMultiMap<[^;]*\.insert\(|5.15 (QMap::insert of a map)'
)

hits=0
for check in "${CHECKS[@]}"; do
  pattern="${check%|*}"
  since="${check##*|}"
  while IFS= read -r line; do
    [ -n "$line" ] || continue
    echo "$line   <- Qt $since"
    hits=$((hits + 1))
  done < <(grep -rnE --include='*.cpp' --include='*.h' "$pattern" "$ROOT" \
             --exclude-dir=build --exclude-dir='build-*' --exclude-dir=.git 2>/dev/null)
done

if [ "$hits" -gt 0 ]; then
  echo "check-qtapi: $hits call(s) newer than Qt 5.11" >&2
  exit 1
fi
echo "check-qtapi: no calls newer than Qt 5.11"
