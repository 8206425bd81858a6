#!/usr/bin/env bash
# The Qt-version check itself: every sample line below holds one call newer
# than Qt 5.11 and must be reported; the version-neutral lines must not be.
set -euo pipefail
CHECK="$1"
DIR="$(mktemp -d)"
trap 'rm -rf "$DIR"' EXIT
cat > "$DIR/newer.cpp" <<'SRC'
auto a = s.split(',', Qt::SkipEmptyParts);
auto b = s.split(QLatin1Char('|'), Qt::KeepEmptyParts);
QRecursiveMutex m;
out << "x" << Qt::endl;
stream << Qt::hex << 12;
Q_DISABLE_COPY_MOVE(Foo)
auto g = qScopeGuard([] {});
QCborValue v;
auto r = QRegularExpression::anchoredPattern(p);
list.swapItemsAt(0, 1);
connect(sock, &QTcpSocket::errorOccurred, this, &X::y);
auto set = QSet<int>(list.begin(), list.end());
SRC
cat > "$DIR/older.cpp" <<'SRC'
auto a = s.split(',', QString::SkipEmptyParts);
QMutex m(QMutex::Recursive);
out << "x" << endl;
connect(port, &QSerialPort::errorOccurred, this, &X::y);
auto set = list.toSet();
SRC
expected=$(grep -c . "$DIR/newer.cpp")
set +e
report=$("$CHECK" "$DIR")
status=$?
set -e
found=$(printf '%s\n' "$report" | grep -c '<- Qt' || true)
echo "$report"
[ "$status" -eq 1 ] || { echo "FAIL: exit status $status, expected 1"; exit 1; }
if printf '%s\n' "$report" | grep -q 'older.cpp'; then echo "FAIL: version-neutral line reported"; exit 1; fi
[ "$found" -eq "$expected" ] || { echo "FAIL: $found of $expected newer calls reported"; exit 1; }
echo "PASS: all $expected newer calls reported"
