// Replays a committed corpus through a libFuzzer entry point, one test row per
// file, so that what fuzzing found (and every input that once crashed or hung
// something) runs with each ordinary test run, whatever the compiler. A crash
// or a broken invariant ends the process (the entry points abort); a hang
// runs into the CTest time-out; a slow input fails its row.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
// Only some targets set themselves up first.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

class FuzzReplay : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(!files().isEmpty(), "empty corpus: " VELA_FUZZ_CORPUS);
    }

    void replay_data()
    {
        QTest::addColumn<QString>("path");
        for (const QString &path : files())
            QTest::newRow(qPrintable(QFileInfo(path).fileName())) << path;
    }

    void replay()
    {
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray input = file.readAll();
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.constData()),
                                        size_t(input.size())), 0);
        // libFuzzer's own limit for a slow unit is far above this.
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed()) + " ms"));
    }

private:
    static QStringList files()
    {
        QStringList out;
        const QDir dir(QStringLiteral(VELA_FUZZ_CORPUS));
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
            out << dir.filePath(name);
        return out;
    }
};

int main(int argc, char **argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance())
        app = std::make_unique<QCoreApplication>(argc, argv);
    FuzzReplay replay;
    return QTest::qExec(&replay, argc, argv);
}

#include "fuzzreplay.moc"
