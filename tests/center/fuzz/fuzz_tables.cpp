// libFuzzer entry over the command tables. The first input byte picks what the
// rest is:
//   0  a board frame, offered to the installed tables and the pass-through;
//   1  a table file, loaded into a fresh module, then exercised with frames
//      and messages built from the bytes after its last zero byte;
//   2  a bus message text, offered to the installed tables and the pass-through.
// Besides crashes and sanitizer reports it stops on a broken invariant: every
// frame that leaves the engines must meet the envelope rules, and the
// pass-through must be its own inverse.

#include "dvscreen.h"
#include "zqboardframe.h"
#include "zqbusinessmanager.h"
#include "zqfitcommand.h"
#include "zqtbusiness.h"

#include <QCoreApplication>
#include <QDomDocument>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstdlib>

namespace {

ZQBusinessManager* g_manager = nullptr;
QList<ZQTbusiness*> g_installed;

void quiet(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtFatalMsg) {
        fprintf(stderr, "%s\n", qPrintable(text));
        abort();
    }
}

void require(bool condition, const char* what, const QByteArray& bytes)
{
    if (!condition) {
        fprintf(stderr, "broken invariant: %s: %s\n", what, bytes.toHex(' ').constData());
        abort();
    }
}

void checkFrame(const QByteArray& frame)
{
    if (frame.isEmpty())
        return;
    require(frame.size() >= 9 && uchar(frame.at(0)) == 0x7F && uchar(frame.at(1)) == frame.size() - 3
                && frame.mid(2, 6) == QByteArray("\x99\xA2\xB3\xC4\x02\xFF", 6) && uchar(frame.back()) == 0xCF,
            "envelope", frame);
}

void offerFrame(ZQTbusiness* module, const QByteArray& frame)
{
    QByteArray key;
    if (module->isCanDealCommand(frame, key))
        module->Send(module->DealCommand(frame, key));
}

void offerMessage(ZQTbusiness* module, const QJsonObject& message)
{
    if (module->isCanDealMessage(message)) {
        const QByteArray frame = module->DealMessage(message);
        checkFrame(frame);
        module->Send(frame);
    }
}

void fuzzFrame(const QByteArray& bytes)
{
    QByteArray wrapped = QByteArray("\x7F\x00\x99\xA2\xB3\xC4\x02\xFF", 8) + bytes + '\xCF';
    wrapped[1] = char(wrapped.size() - 3);
    for (const QByteArray& frame : {bytes, wrapped}) {
        for (ZQTbusiness* module : qAsConst(g_installed))
            offerFrame(module, frame);
        g_manager->DealCommand(frame);
    }
    // Up and down again gives the same frame, as long as the payload fits.
    if (!bytes.isEmpty() && bytes.size() <= ZQBoardFrame::MaxCommandLength) {
        const QJsonObject up = ZQBusinessManager::passThroughMessage(wrapped);
        require(ZQBusinessManager::passThroughFrame(up) == wrapped, "pass-through round trip", wrapped);
    }
}

void fuzzMessage(const QByteArray& bytes)
{
    const QString text = QString::fromUtf8(bytes);
    for (ZQTbusiness* module : qAsConst(g_installed))
        offerMessage(module, module->messageStrToJson(text));
    checkFrame(ZQBusinessManager::passThroughFrame(IZQBusiness::messageTextToJson(text)));
    g_manager->DealMessage(text);
}

void fuzzTable(const QByteArray& bytes)
{
    const int split = bytes.lastIndexOf('\0');
    const QByteArray xml = split >= 0 ? bytes.left(split) : bytes;
    const QByteArray tail = split >= 0 ? bytes.mid(split + 1) : QByteArray();

    DvScreen screen;
    screen.setScreenVersion(tail.isEmpty() ? 0 : (tail.at(0) & 1 ? 2018 : 2019));
    ZQTbusiness module(&screen, nullptr);
    if (!module.loadConfigData(xml, QStringLiteral("fuzz")))
        return;

    // Frames: the tail as a command, and every prefix length of it.
    for (int n = 0; n <= tail.size(); ++n) {
        QByteArray frame = QByteArray("\x7F\x00\x99\xA2\xB3\xC4\x02\xFF", 8) + tail.left(n) + '\xCF';
        frame[1] = char(frame.size() - 3);
        offerFrame(&module, frame);
    }
    // Messages: every entry name of the table, with values from the tail.
    QDomDocument document;
    if (!document.setContent(xml))
        return;
    QJsonArray param;
    for (char c : tail) {
        param.append(QJsonObject{{QStringLiteral("value"), int(c)}});
        param.append(QJsonObject{{QStringLiteral("value"), QString(QChar(uchar(c)))}});
    }
    for (QDomElement e = document.documentElement().firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        offerMessage(&module, QJsonObject{{QStringLiteral("eventid"), e.tagName()}, {QStringLiteral("param"), param}});
        offerMessage(&module, QJsonObject{{QStringLiteral("eventid"), e.tagName()}});
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler(quiet);
    g_manager = new ZQBusinessManager(nullptr);
    for (const char* name : {"DiscCommand.xml", "control.xml", "SmSc.xml"}) {
        auto* module = new ZQTbusiness(g_manager->screen(), nullptr);
        module->setConfigPath(QStringLiteral(VELA_SOURCE_DIR "/center/data/") + name);
        module->init();
        g_installed.append(module);
        g_manager->addModule(module);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data) + 1, int(size - 1));
    switch (data[0] % 3) {
    case 0: fuzzFrame(bytes); break;
    case 1: fuzzTable(bytes); break;
    default: fuzzMessage(bytes); break;
    }
    return 0;
}
