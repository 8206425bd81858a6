// Widget checks for one desktop size. Run by tst_desktopscreens on a private
// Xvfb of that size (with a window manager), never on its own: it needs
// VELA_EXPECT_WIDTH to know which screen it was given.
#include "custombutton.h"
#include "messagedialog.h"
#include "resolutioncontrol.h"
#include "toolbox.h"
#include "velacentertestdialog.h"
#include "zqlocaloperatoer.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QSerialPortInfo>
#include <QtTest>

namespace {

// What each desktop width must give, in device pixels.
struct Expected {
    int width;
    double scale;
    QSize toolbox;
    QSize button;
    int icon;
    int dialogHeight;
    int dialogFontPx;
    int captionFontPx;
};

const Expected kTable[] = {
    {1024, 0.8, {107, 121}, {25, 43}, 25, 22, 12, 8},
    {1920, 1.0, {134, 152}, {32, 54}, 32, 28, 15, 10},
    {3840, 2.0, {268, 304}, {64, 108}, 64, 56, 30, 20},
};

const char *const kCaptions[] = {"截屏", "聚光灯", "时钟", "放大镜"};

// A real pointer click through the X server, as a finger on the panel would give.
bool clickAt(const QPoint &global)
{
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"),
                  {QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y()),
                   QStringLiteral("click"), QStringLiteral("1")});
    return xdotool.waitForFinished(10000) && xdotool.exitCode() == 0;
}

customButton *buttonOf(toolBox &box, const QString &caption)
{
    return box.findChild<customButton *>(caption + QStringLiteral("cbtn"));
}

} // namespace

class DesktopWidgetChecks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void screenQueries();
    void iconsCompiledIn_data();
    void iconsCompiledIn();
    void messageDialogSize();
    void messageDialogBurstHidesAfterFirst();
    void firstToastBesidePoint_data();
    void firstToastBesidePoint();
    void toolboxLayout();
    void toolboxButtons_data();
    void toolboxButtons();
    void toolboxHidesWhenAnotherWindowActivates_data();
    void toolboxHidesWhenAnotherWindowActivates();
    void toastKeepsToolboxOpen();
    void toolboxCloseAndLite();
    void probeWindow();

private:
    Expected m_expect{};
};

void DesktopWidgetChecks::initTestCase()
{
    const int width = qEnvironmentVariableIntValue("VELA_EXPECT_WIDTH");
    bool found = false;
    for (const Expected &e : kTable)
        if (e.width == width) {
            m_expect = e;
            found = true;
        }
    QVERIFY2(found, "VELA_EXPECT_WIDTH must be 1024, 1920 or 3840");
    QCOMPARE(QApplication::desktop()->geometry().width(), width);
}

void DesktopWidgetChecks::screenQueries()
{
    const QRect g = QApplication::desktop()->geometry();
    QCOMPARE(resolutionControl::getScale(), m_expect.scale);
    QCOMPARE(resolutionControl::getResolution(), QRectF(0, 0, m_expect.width, g.height()));
    QCOMPARE(resolutionControl::getScreenCenter(), QPoint(m_expect.width / 2, g.height() / 2));
    QVERIFY(resolutionControl::getDPI() > 0.0);
}

void DesktopWidgetChecks::iconsCompiledIn_data()
{
    QTest::addColumn<QString>("path");
    for (const char *p : {":/Icon/id_cap.png", ":/Icon/id_Spotlight.png", ":/Icon/id_clock.png", ":/Icon/id_Zoom.png",
                          ":/Icon/id_Backg.png"})
        QTest::newRow(p) << QString::fromLatin1(p);
}

void DesktopWidgetChecks::iconsCompiledIn()
{
    QFETCH(QString, path);
    // Building a button registers the resources of the static library.
    customButton probe(QStringLiteral("probe"), path);
    const QImage image(path);
    QVERIFY2(!image.isNull(), "resource missing from the program");
    // Large enough to stay sharp at the biggest scale.
    QVERIFY(image.width() >= 64 && image.height() >= 64);
    QVERIFY(image.hasAlphaChannel());
}

void DesktopWidgetChecks::messageDialogSize()
{
    MessageDialog dialog;
    QCOMPARE(MessageDialog::getMessage(), &dialog);
    dialog.showDialog(QStringLiteral("应用未安装"), 100, 200);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.height(), m_expect.dialogHeight);
    QTRY_COMPARE(dialog.pos(), QPoint(100, 200));
    auto *label = dialog.findChild<QLabel *>(QStringLiteral("myMid"));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("应用未安装"));
    QCOMPARE(label->font().pixelSize(), m_expect.dialogFontPx);

    // A long text widens the toast; a short one after it must not keep that width.
    // (The window manager confirms sizes asynchronously, hence the waits.)
    dialog.showDialog(QStringLiteral("该模式下此功能不可用，该模式下此功能不可用"), 100, 200);
    QTRY_COMPARE(dialog.width(), dialog.sizeHint().width());
    const int wide = dialog.width();
    dialog.showDialog(QStringLiteral("短"), 100, 200);
    QTRY_COMPARE(dialog.width(), dialog.sizeHint().width());
    QVERIFY2(dialog.width() < wide, "the toast kept the width of an earlier text");
    QCOMPARE(dialog.height(), m_expect.dialogHeight);
}

void DesktopWidgetChecks::messageDialogBurstHidesAfterFirst()
{
    MessageDialog dialog;
    QElapsedTimer t;
    t.start();
    dialog.showDialog(QStringLiteral("该模式下此功能不可用"), 50, 50);
    QTest::qWait(600);
    dialog.showDialog(QStringLiteral("该模式下此功能不可用"), 50, 80);
    QVERIFY(dialog.isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(dialog.isHidden(), 3000);
    const qint64 hiddenAfter = t.elapsed();
    // One second after the first call, i.e. about 400 ms after the second; a
    // timer restarted by the second call would hide it only at about 1600 ms.
    QVERIFY2(hiddenAfter >= 900 && hiddenAfter < 1500, qPrintable(QString::number(hiddenAfter)));
    // The second call's own timer fires later and must not show or break anything.
    QTest::qWait(800);
    QVERIFY(dialog.isHidden());
}

void DesktopWidgetChecks::firstToastBesidePoint_data()
{
    QTest::addColumn<int>("position");
    QTest::newRow("right of the point") << 0;
    QTest::newRow("left of the point") << 1;
    QTest::newRow("above the point") << 2;
}

void DesktopWidgetChecks::firstToastBesidePoint()
{
    QFETCH(int, position);
    // As in a centre that has shown no toast yet: the toast is placed by the
    // size it has with its text, not by the size of an empty window.
    MessageDialog dialog;
    ZQLocalOperatoer op;
    const int x = m_expect.width / 2;
    const int y = 300;
    op.slotShowDialog(position, x, y);
    QVERIFY(dialog.isVisible());
    const int width = dialog.sizeHint().width();
    QVERIFY2(width > 100 && width < m_expect.width / 2, qPrintable(QString::number(width)));
    const QPoint expected = position == 0 ? QPoint(x + 6, y)
                          : position == 1 ? QPoint(x - width - 6, y)
                                          : QPoint(x, y - m_expect.dialogHeight);
    QTRY_COMPARE(dialog.pos(), expected);
}

void DesktopWidgetChecks::toolboxLayout()
{
    toolBox box;
    QCOMPARE(toolBox::getInstance(), &box);
    QCOMPARE(box.size(), m_expect.toolbox);
    QVERIFY(box.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(box.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(box.windowType(), Qt::Tool);

    box.showDialog(40, 60, 0);
    QTRY_VERIFY(box.isVisible());
    QTRY_COMPARE(box.pos(), QPoint(40, 60));

    QHash<QString, QRect> placed;
    for (const char *c : kCaptions) {
        const QString caption = QString::fromUtf8(c);
        customButton *b = buttonOf(box, caption);
        QVERIFY2(b, c);
        QCOMPARE(b->size(), m_expect.button);
        QVERIFY(b->testAttribute(Qt::WA_AcceptTouchEvents));
        auto *icon = b->findChild<QLabel *>(caption + QStringLiteral("icon"));
        auto *text = b->findChild<QLabel *>(caption + QStringLiteral("txt"));
        QVERIFY(icon && text);
        QCOMPARE(icon->size(), QSize(m_expect.icon, m_expect.icon));
        QCOMPARE(text->text(), caption);
        QCOMPARE(text->font().pixelSize(), m_expect.captionFontPx);
        QVERIFY2(icon->geometry().bottom() < text->geometry().top(), "icon must sit above its caption");
        placed.insert(caption, QRect(b->mapTo(&box, QPoint(0, 0)), b->size()));
    }
    // Screenshot and spotlight on top, clock and magnifier below; all inside the panel.
    const QRect cap = placed.value(QStringLiteral("截屏")), lite = placed.value(QStringLiteral("聚光灯"));
    const QRect clock = placed.value(QStringLiteral("时钟")), zoom = placed.value(QStringLiteral("放大镜"));
    QCOMPARE(cap.top(), lite.top());
    QVERIFY(cap.right() < lite.left());
    QCOMPARE(clock.left(), cap.left());
    QCOMPARE(zoom.left(), lite.left());
    QVERIFY(cap.bottom() < clock.top());
    QCOMPARE(clock.top(), zoom.top());
    for (const QRect &r : {cap, lite, clock, zoom})
        QVERIFY(QRect(QPoint(0, 0), box.size()).contains(r));
}

void DesktopWidgetChecks::toolboxButtons_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("signalIndex");   // 0 cap, 1 lite, 2 clock, 3 zoom
    QTest::newRow("screenshot") << QStringLiteral("截屏") << 0;
    QTest::newRow("spotlight") << QStringLiteral("聚光灯") << 1;
    QTest::newRow("clock") << QStringLiteral("时钟") << 2;
    QTest::newRow("magnifier") << QStringLiteral("放大镜") << 3;
}

void DesktopWidgetChecks::toolboxButtons()
{
    QFETCH(QString, caption);
    QFETCH(int, signalIndex);
    toolBox box;
    QSignalSpy cap(&box, &toolBox::sigCap), lite(&box, &toolBox::sigLite), clock(&box, &toolBox::sigClock),
        zoom(&box, &toolBox::sigZoom);
    QSignalSpy *spies[] = {&cap, &lite, &clock, &zoom};

    box.showDialog(200, 150, 0);
    QTRY_VERIFY(box.isActiveWindow());
    customButton *b = buttonOf(box, caption);
    QVERIFY(b);
    // Touch the caption area: a touch on the label must still press the button.
    QVERIFY(clickAt(b->mapToGlobal(QPoint(b->width() / 2, b->height() - 3))));
    QTRY_COMPARE(spies[signalIndex]->count(), 1);
    QCOMPARE(spies[signalIndex]->first().first().toBool(), false);
    QTest::qWait(100);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(spies[i]->count(), i == signalIndex ? 1 : 0);
}

void DesktopWidgetChecks::toolboxHidesWhenAnotherWindowActivates_data()
{
    QTest::addColumn<bool>("otherProgram");
    QTest::addColumn<bool>("hiddenParent");   // as in the control centre: child of a hidden main window
    QTest::newRow("window of this program") << false << false;
    QTest::newRow("window of another program") << true << false;
    QTest::newRow("under hidden main window, window of this program") << false << true;
    QTest::newRow("under hidden main window, window of another program") << true << true;
}

void DesktopWidgetChecks::toolboxHidesWhenAnotherWindowActivates()
{
    QFETCH(bool, otherProgram);
    QFETCH(bool, hiddenParent);
    QWidget mainWindow;
    toolBox box(hiddenParent ? &mainWindow : nullptr);
    QWidget own;
    own.setWindowTitle(QStringLiteral("vela own window"));
    own.setGeometry(600, 300, 200, 150);
    QProcess other;
    if (otherProgram) {
        other.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--plain-window")});
        QVERIFY(other.waitForStarted(5000));
        QVERIFY(other.waitForReadyRead(10000));   // it prints once mapped
    } else {
        own.show();
        QVERIFY(QTest::qWaitForWindowExposed(&own));
    }

    box.showDialog(100, 100, 0);
    QTRY_VERIFY(box.isActiveWindow());

    // The user touches the other window.
    const QPoint target = otherProgram ? QPoint(700, 400) : own.mapToGlobal(QPoint(100, 75));
    QVERIFY(clickAt(target));
    QTRY_VERIFY(box.isHidden());

    // Shown again, it works again.
    box.showDialog(100, 100, 0);
    QTRY_VERIFY(box.isActiveWindow());
    QVERIFY(box.isVisible());
    if (otherProgram) {
        other.kill();
        other.waitForFinished(3000);
    }
}

void DesktopWidgetChecks::toastKeepsToolboxOpen()
{
    QWidget mainWindow;
    toolBox box(&mainWindow);
    MessageDialog dialog(&mainWindow);
    box.showDialog(100, 100, 0);
    QTRY_VERIFY(box.isActiveWindow());
    dialog.showDialog(QStringLiteral("该模式下此功能不可用"), 100, 100 + box.height() + 10);
    QTest::qWait(300);
    QVERIFY(dialog.isVisible());
    QVERIFY2(box.isVisible() && box.isActiveWindow(), "the toast took the activation from the toolbox");
}

void DesktopWidgetChecks::toolboxCloseAndLite()
{
    toolBox box;
    box.showDialog(100, 100, 0);
    QTRY_VERIFY(box.isActiveWindow());
    box.slotLite(true);
    QVERIFY(box.isVisible());
    box.slotClose(false);
    QVERIFY(box.isHidden());
}

void DesktopWidgetChecks::probeWindow()
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    const QString expected = ports.isEmpty() ? QStringLiteral("Name : ")
                                             : QStringLiteral("Name : ") + ports.last().systemLocation();
    QElapsedTimer t;
    t.start();
    VelaCenterTestDialog probe;
    probe.show();
    QCOMPARE(probe.size(), QSize(10, 10));
    auto *label = probe.findChild<QLabel *>();
    QVERIFY(label);
    QCOMPARE(label->text(), expected);
    QVERIFY(label->wordWrap());
    QCOMPARE(label->width(), 180);
    QTRY_VERIFY_WITH_TIMEOUT(probe.isHidden(), 4000);
    QVERIFY2(t.elapsed() >= 1800, "the probe window hid before its two seconds");
}

void DesktopWidgetChecks::cleanupTestCase()
{
    // A picture of the toolbox and the toast for a person to look at.
    const QString dir = qEnvironmentVariable("VELA_SHOT_DIR");
    if (dir.isEmpty())
        return;
    // A mid-grey desk behind them, like a busy desktop, to judge the contrast.
    QWidget desk;
    desk.setStyleSheet(QStringLiteral("background-color:#8a8f96;"));
    desk.setGeometry(0, 0, 600, 600);
    desk.show();
    QVERIFY(QTest::qWaitForWindowExposed(&desk));
    toolBox box;
    MessageDialog dialog;
    box.showDialog(60, 60, 0);
    dialog.showDialog(QStringLiteral("该模式下此功能不可用"), 60, 60 + box.height() + 20);
    QTest::qWait(300);
    QScreen *screen = QGuiApplication::primaryScreen();
    const int w = qMax(box.width(), dialog.width()) + 120;
    const int h = box.height() + dialog.height() + 120;
    screen->grabWindow(0, 0, 0, w, h).save(QStringLiteral("%1/desktop_%2.png").arg(dir).arg(m_expect.width));
}

// "--plain-window": an ordinary window of another program, for activation checks.
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--plain-window") == 0) {
        QWidget w;
        w.setWindowTitle(QStringLiteral("vela other program"));
        w.setGeometry(600, 300, 200, 150);
        w.show();
        if (!QTest::qWaitForWindowExposed(&w))
            return 1;
        QTextStream(stdout) << "mapped\n"; // the stream flushes as it ends
        return app.exec();
    }
    DesktopWidgetChecks checks;
    return QTest::qExec(&checks, argc, argv);
}

#include "desktopwidgetchecks.moc"
