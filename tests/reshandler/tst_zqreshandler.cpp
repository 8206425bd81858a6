// The resource plug-in's forwarding, defaults and signals, against the
// stand-in transfer plug-ins built beside this test.
#include "zqreshandler.h"

#include <QFile>
#include <QPluginLoader>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

using Call = std::function<QVariant(IZQResHandler *)>;
Q_DECLARE_METATYPE(Call)

namespace {

const QString kStandInDir = QStringLiteral(VELA_TRANSFER_STANDIN_DIR);

QObject *standIn(const QString &path)
{
    return QPluginLoader(path).instance();
}

QStringList takeCalls(QObject *plugin)
{
    QStringList calls;
    if (plugin)
        QMetaObject::invokeMethod(plugin, "takeCalls", Q_RETURN_ARG(QStringList, calls));
    return calls;
}

// The facade reads the work directory when it is built.
std::unique_ptr<ZQResHandler> facadeIn(const QString &workDir)
{
    qApp->setProperty("workDir", workDir);
    auto facade = std::make_unique<ZQResHandler>();
    qApp->setProperty("workDir", QVariant());
    return facade;
}

} // namespace

class TestZQResHandler : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void initHandsOverTheFacade();
    // Each case starts with nothing recorded, whatever the last one left.
    void init()
    {
        if (QByteArray(QTest::currentTestFunction()) != "initHandsOverTheFacade") {
            takeCalls(m_fetch);
            takeCalls(m_push);
        }
    }
    void forwards_data();
    void forwards();
    void defaultsWithoutPlugins_data() { forwards_data(); }
    void defaultsWithoutPlugins();
    void pluginOfAnotherInterfaceIsRefused();
    void signalsThroughTheFacade_data();
    void signalsThroughTheFacade();

private:
    QObject *m_fetch = nullptr;
    QObject *m_push = nullptr;
    std::unique_ptr<ZQResHandler> m_facade;
};

void TestZQResHandler::initTestCase()
{
    // The reason a transfer plug-in was refused is a debug line; the cases wait for it.
    QLoggingCategory::setFilterRules(QStringLiteral("vela.reshandler.debug=true"));
    m_fetch = standIn(kStandInDir + QStringLiteral("/fetchFile.so"));
    m_push = standIn(kStandInDir + QStringLiteral("/pushFile.so"));
    QVERIFY(m_fetch && m_push);
    m_facade = facadeIn(kStandInDir);
}

void TestZQResHandler::initHandsOverTheFacade()
{
    QCOMPARE(takeCalls(m_fetch), QStringList{QStringLiteral("fetchFile:initDownloadManager(ZQResHandler)")});
    QCOMPARE(takeCalls(m_push), QStringList{QStringLiteral("pushFile:initUploadManager(ZQResHandler)")});
    QCOMPARE(m_facade->getObject(), m_facade.get());
}

void TestZQResHandler::forwards_data()
{
    QTest::addColumn<Call>("call");
    QTest::addColumn<QString>("reached");    // the one line the stand-ins record
    QTest::addColumn<QVariant>("result");    // what the stand-in's answer becomes
    QTest::addColumn<QVariant>("fallback");  // the answer without the plug-in

    const QJsonObject info{{QStringLiteral("url"), QStringLiteral("https://h/Grüße 文件.png")}, {QStringLiteral("n"), 1}};
    const QString infoText = QStringLiteral("{\"n\":1,\"url\":\"https://h/Grüße 文件.png\"}");
    const QJsonArray list{info, QJsonObject{{QStringLiteral("n"), 2}}};
    const QString listText = QStringLiteral("[") + infoText + QStringLiteral(",{\"n\":2}]");
    const QString b = QStringLiteral("bücket"), p = QStringLiteral("dir/ü.png"), l = QStringLiteral("/tmp/ü.png");
    const QVariant none;
    auto from = [](const QString &line) { return QVariant(QJsonObject{{QStringLiteral("from"), line}}); };

    auto row = [](const char *name, Call call, const QString &reached, const QVariant &result, const QVariant &fallback) {
        QTest::newRow(name) << call << reached << result << fallback;
    };
    row("setParams", [=](IZQResHandler *h) { h->setParams(info); return QVariant(); },
        "fetchFile:setParams(" + infoText + ")", none, none);
    row("downloadFile", [=](IZQResHandler *h) { h->downloadFile(info); return QVariant(); },
        "fetchFile:downloadFile(" + infoText + ")", none, none);
    row("stopDownloadFile", [=](IZQResHandler *h) { h->stopDownloadFile(p, true); return QVariant(); },
        "fetchFile:stopDownloadFile(\"" + p + "\", true)", none, none);
    row("downloadFileByList", [=](IZQResHandler *h) { h->downloadFileByList(list); return QVariant(); },
        "fetchFile:downloadFileByList(" + listText + ")", none, none);
    row("stopDownloadFileList", [](IZQResHandler *h) { h->stopDownloadFileList(); return QVariant(); },
        "fetchFile:stopDownloadFileList()", none, none);
    row("uploadFile", [=](IZQResHandler *h) { h->uploadFile(info); return QVariant(); },
        "pushFile:uploadFile(" + infoText + ")", none, none);
    row("stopUploadFile()", [](IZQResHandler *h) { h->stopUploadFile(); return QVariant(); },
        "pushFile:stopUploadFile()", none, none);
    row("stopUploadFile(l, r, b)", [=](IZQResHandler *h) { h->stopUploadFile(l, p, b); return QVariant(); },
        "pushFile:stopUploadFile(\"" + l + "\", \"" + p + "\", \"" + b + "\")", none, none);
    row("cancelUploadingFile", [=](IZQResHandler *h) { h->cancelUploadingFile(l, p, b); return QVariant(); },
        "pushFile:cancelUploadingFile(\"" + l + "\", \"" + p + "\", \"" + b + "\")", none, none);
    row("uploadFileByList(array)", [=](IZQResHandler *h) { h->uploadFileByList(list); return QVariant(); },
        "pushFile:uploadFileByList(" + listText + ")", none, none);
    row("uploadFileByList(vector)",
        [](IZQResHandler *h) { h->uploadFileByList(QVector<QVariant>{7, QStringLiteral("ü")}); return QVariant(); },
        QStringLiteral("pushFile:uploadFileByList(vector[7,\"ü\"])"), none, none);
    row("stopUploadFileList", [](IZQResHandler *h) { h->stopUploadFileList(); return QVariant(); },
        "pushFile:stopUploadFileList()", none, none);
    row("isUploadThreadsRunning", [](IZQResHandler *h) { return QVariant(h->isUploadThreadsRunning()); },
        "pushFile:isUploadThreadsRunning()", QVariant(true), QVariant(false));
    row("downlodAvatarPixmap", [=](IZQResHandler *h) { h->downlodAvatarPixmap(p); return QVariant(); },
        "fetchFile:downlodAvatarPixmap(\"" + p + "\")", none, none);
    const QString sdkUrl = "pushFile:getCosFileUrl(\"" + b + "\", \"" + p + "\", \"2\")";
    row("getCosFileUrlBySdk", [=](IZQResHandler *h) { return QVariant(h->getCosFileUrlBySdk(b, p)); },
        sdkUrl, sdkUrl, QString());
    const QString url = "pushFile:getCosFileUrl(\"" + b + "\", \"" + p + "\", \"1\")";
    row("getCosFileUrl", [=](IZQResHandler *h) { return QVariant(h->getCosFileUrl(b, p, QStringLiteral("1"))); },
        url, url, QString());
    const QString info4 = "pushFile:getCosFileInfo(\"" + b + "\", \"" + p + "\", \"1\", \"bc\")";
    row("getCosFileInfo",
        [=](IZQResHandler *h) { return QVariant(h->getCosFileInfo(b, p, QStringLiteral("1"), QStringLiteral("bc"))); },
        info4, from(info4), QJsonObject());
    const QString info3 = "pushFile:getCosFileInfoBySdk(\"" + b + "\", \"" + p + "\", \"bc\")";
    row("getCosFileInfoBySdk",
        [=](IZQResHandler *h) { return QVariant(h->getCosFileInfoBySdk(b, p, QStringLiteral("bc"))); },
        info3, from(info3), QJsonObject());
    row("advanceUploadFile", [=](IZQResHandler *h) { return QVariant(h->advanceUploadFile(b, l, p, true)); },
        "pushFile:advanceUploadFile(\"" + b + "\", \"" + l + "\", \"" + p + "\", true)", 41, -1);
    row("getAdvanceUploadProgress", [](IZQResHandler *h) { return QVariant(h->getAdvanceUploadProgress()); },
        "pushFile:getAdvanceUploadProgress()", 0.25, 0.0);
    row("getcosFileStatus",
        [=](IZQResHandler *h) { return QVariant(h->getcosFileStatus(b, p, QStringLiteral("3"))); },
        "pushFile:getcosFileStatus(\"" + b + "\", \"" + p + "\", \"3\")", 42, -1);
    row("deleteCosFile", [=](IZQResHandler *h) { return QVariant(h->deleteCosFile(b, p)); },
        "pushFile:deleteCosFile(\"" + b + "\", \"" + p + "\")", 43, -1);
    row("limitDownloadSpeed", [](IZQResHandler *h) { h->limitDownloadSpeed(true, 512); return QVariant(); },
        "fetchFile:limitDownloadSpeed(true, 512)", none, none);
    const QString head = "fetchFile:getFileInfoByHttpHead(\"" + p + "\")";
    row("getFileInfoByHttpHead", [=](IZQResHandler *h) { return QVariant(h->getFileInfoByHttpHead(p)); },
        head, from(head), QJsonObject());
    row("uploadFileByPost", [=](IZQResHandler *h) { h->uploadFileByPost(info); return QVariant(); },
        "pushFile:uploadFileByPost(" + infoText + ")", none, none);
    // The object form, never the plug-in's three-text form of the same name.
    row("stopUploadFileByPost", [=](IZQResHandler *h) { h->stopUploadFileByPost(info); return QVariant(); },
        "pushFile:stopUploadFileByPost(" + infoText + ")", none, none);
    row("uploadOssFile", [=](IZQResHandler *h) { h->uploadOssFile(info); return QVariant(); },
        "pushFile:uploadOssFile(" + infoText + ")", none, none);
}

void TestZQResHandler::forwards()
{
    QFETCH(Call, call);
    QFETCH(QString, reached);
    QFETCH(QVariant, result);

    QCOMPARE(call(m_facade.get()), result);
    QCOMPARE(takeCalls(m_fetch) + takeCalls(m_push), QStringList{reached});
}

void TestZQResHandler::defaultsWithoutPlugins()
{
    QFETCH(Call, call);
    QFETCH(QVariant, fallback);

    QTemporaryDir empty;
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^fetchFile\\.dll\\..+")));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^pushFile\\.dll\\..+")));
    auto facade = facadeIn(empty.path());
    QCOMPARE(call(facade.get()), fallback);
    QCOMPARE(takeCalls(m_fetch) + takeCalls(m_push), QStringList());
}

void TestZQResHandler::pluginOfAnotherInterfaceIsRefused()
{
    // Each transfer plug-in under the other's file name.
    QTemporaryDir swapped;
    const QString fetchAsPush = swapped.filePath(QStringLiteral("pushFile.so"));
    const QString pushAsFetch = swapped.filePath(QStringLiteral("fetchFile.so"));
    QVERIFY(QFile::copy(kStandInDir + QStringLiteral("/fetchFile.so"), fetchAsPush));
    QVERIFY(QFile::copy(kStandInDir + QStringLiteral("/pushFile.so"), pushAsFetch));

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(
        "^fetchFile\\.dll\\..*is not a com\\.zqt\\.bricks\\.nethub\\.IZQFetchFile/1\\.0 plug-in")));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(
        "^pushFile\\.dll\\..*is not a com\\.zqt\\.bricks\\.nethub\\.IZQPushFile/1\\.0 plug-in")));
    auto facade = facadeIn(swapped.path());
    QCOMPARE(facade->advanceUploadFile(QStringLiteral("b"), QStringLiteral("l"), QStringLiteral("r"), false), -1);
    QCOMPARE(facade->getFileInfoByHttpHead(QStringLiteral("u")), QJsonObject());
    facade->downloadFile(QJsonObject());
    facade->uploadFile(QJsonObject());

    // Not even the init call reached them through a wrong cast.
    QObject *wrongFetch = standIn(pushAsFetch);
    QObject *wrongPush = standIn(fetchAsPush);
    QVERIFY(wrongFetch && wrongPush && wrongFetch != m_push);
    QCOMPARE(takeCalls(wrongFetch) + takeCalls(wrongPush), QStringList());
}

void TestZQResHandler::signalsThroughTheFacade_data()
{
    QTest::addColumn<bool>("fromFetch");
    QTest::addColumn<QString>("signal");
    QTest::addColumn<QVariantList>("args");

    const QJsonObject info{{QStringLiteral("url"), QStringLiteral("https://h/ü")}};
    QTest::newRow("download start") << true << "signalDownloadStart(bool,QJsonObject)" << QVariantList{true, info};
    QTest::newRow("download progress") << true << "signalDownloadProgress(QJsonObject,int,QString)"
                                       << QVariantList{info, 55, QStringLiteral("1 MB/s")};
    QTest::newRow("avatar failed") << true << "signalAvatarquit(QNetworkReply::NetworkError)"
                                   << QVariantList{QVariant::fromValue(QNetworkReply::TimeoutError)};
    QTest::newRow("upload finished") << false << "signalUploadFinished(int,QJsonObject)" << QVariantList{2, info};
    QTest::newRow("upload progress") << false << "signalUploadProgress(QJsonObject,int)" << QVariantList{info, 30};
}

void TestZQResHandler::signalsThroughTheFacade()
{
    QFETCH(bool, fromFetch);
    QFETCH(QString, signal);
    QFETCH(QVariantList, args);

    // A spy on a queued-capable signal needs its argument types registered.
    QSignalSpy spy(m_facade.get(), QByteArray("2" + signal.toLatin1()).constData());
    QVERIFY(spy.isValid());
    bool raised = false;
    QVERIFY(QMetaObject::invokeMethod(fromFetch ? m_fetch : m_push, "raise", Q_RETURN_ARG(bool, raised),
                                      Q_ARG(QString, signal.left(signal.indexOf(QLatin1Char('(')))),
                                      Q_ARG(QVariantList, args)));
    QVERIFY(raised);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first(), args);
}

QTEST_GUILESS_MAIN(TestZQResHandler)
#include "tst_zqreshandler.moc"
