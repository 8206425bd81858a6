// libFuzzer entry over the bus messages that reach the business modules: the
// business manager with the modules velacenter builds, their installed command
// tables, and DealMessage as the IPC work thread calls it. The first input byte
// picks what the rest is:
//   0  the message text as it came off the bus;
//   1  a message built around an event the tables know (picked by the next
//      byte), addressed to the centre, with the rest as its "param": parsed as
//      JSON when it is JSON, else as values taken from the bytes.
// Besides crashes and sanitizer reports it stops on a broken invariant: every
// frame for the board must meet the envelope rules, and every text for the
// bus must be a JSON object.

#include "izqbusiness.h"
#include "zqbusinessmanager.h"
#include "zqtbusiness.h"

#include <QCoreApplication>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstdlib>

namespace {

ZQBusinessManager *g_manager = nullptr;
QStringList g_events;

void quiet(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtFatalMsg) {
        fprintf(stderr, "%s\n", qPrintable(text));
        abort();
    }
}

void require(bool condition, const char *what, const QByteArray &bytes)
{
    if (!condition) {
        fprintf(stderr, "broken invariant: %s: %s\n", what, bytes.left(400).constData());
        abort();
    }
}

void checkFrame(const QByteArray &frame)
{
    if (frame.isEmpty())
        return; // nothing to send
    require(frame.size() >= 9 && uchar(frame.at(0)) == 0x7F && uchar(frame.at(1)) == frame.size() - 3
                && frame.mid(2, 6) == QByteArray("\x99\xA2\xB3\xC4\x02\xFF", 6) && uchar(frame.back()) == 0xCF,
            "frame envelope", frame.toHex(' '));
}

void checkText(const QString &text)
{
    require(QJsonDocument::fromJson(text.toUtf8()).isObject(), "bus text is no JSON object", text.toUtf8());
}

// The modules read their tables beside the program; here they come from the
// source tree.
void loadTables()
{
    const QString dataDir = QStringLiteral(VELA_SOURCE_DIR "/center/data/");
    for (IZQBusiness *module : g_manager->modules()) {
        auto *table = dynamic_cast<ZQTbusiness *>(module);
        if (!table)
            continue;
        const QString name = QFileInfo(table->configPath()).fileName();
        QFile file(dataDir + name);
        if (name.isEmpty() || !file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray xml = file.readAll();
        table->loadConfigData(xml, name);
        QDomDocument document;
        if (document.setContent(xml)) {
            for (QDomElement e = document.documentElement().firstChildElement(); !e.isNull();
                 e = e.nextSiblingElement()) {
                if (!g_events.contains(e.tagName()))
                    g_events << e.tagName();
            }
        }
    }
    g_events << QStringLiteral("EVENT_ANY");
}

QJsonValue paramFrom(const QByteArray &bytes)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error == QJsonParseError::NoError)
        return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
    // Pairs of bytes: a type word from the first, a number or a text from the second.
    static const char *const kTypes[] = {"value", "State", "Brightness", "color", "width", "type"};
    QJsonArray param;
    for (int i = 0; i + 1 < bytes.size(); i += 2) {
        const char *type = kTypes[uchar(bytes.at(i)) % 6];
        const char c = bytes.at(i + 1);
        const QJsonValue value = (c & 1) ? QJsonValue(int(qint8(c)) * 1000003)
                                         : QJsonValue(QString::fromLatin1(bytes.mid(i + 1, 8).toBase64()));
        param.append(QJsonObject{{QStringLiteral("type"), QLatin1String(type)}, {QStringLiteral("value"), value}});
    }
    return param;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler(quiet);
    g_manager = new ZQBusinessManager(nullptr);
    g_manager->init();
    loadTables();
    QObject::connect(g_manager, &ZQBusinessManager::sigSendCommand, &checkFrame);
    QObject::connect(g_manager, &ZQBusinessManager::sigSendMessage, &checkText);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data) + 1, int(size - 1));
    if (data[0] % 2 == 0 || bytes.isEmpty()) {
        g_manager->DealMessage(QString::fromUtf8(bytes));
        return 0;
    }
    const QString event = g_events.at(uchar(bytes.at(0)) % g_events.size());
    QJsonObject message{{QStringLiteral("eventid"), event},
                        {QStringLiteral("from"), QStringLiteral("ID_APP_FUZZ")},
                        {QStringLiteral("to"), QStringLiteral("ID_APP_VELACENTER")}};
    const QByteArray rest = bytes.mid(1);
    message.insert(QStringLiteral("param"),
                   event == QLatin1String("EVENT_ANY") && !rest.startsWith('[')
                       ? QJsonValue(QString::fromLatin1(rest.toBase64()))
                       : paramFrom(rest));
    const QString text = QString::fromUtf8(QJsonDocument(message).toJson());
    g_manager->DealMessage(text);
    return 0;
}
