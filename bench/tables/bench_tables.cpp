// Frames analysed per second and messages fitted per second against the
// installed command tables, for the engines alone and for the whole path
// through the business manager (key search, analysis or fitting, the JSON
// text). Usage: bench_tables [table-folder] [seconds-per-figure]

#include "dvscreen.h"
#include "zqbusinessmanager.h"
#include "zqtbusiness.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>

#include <cstdio>
#include <functional>

namespace {

QByteArray frame(const char* command)
{
    QByteArray f = QByteArray::fromHex("7F0099A2B3C402FF") + QByteArray::fromHex(command) + QByteArray::fromHex("CF");
    f[1] = char(f.size() - 3);
    return f;
}

void dropAll(QtMsgType, const QMessageLogContext&, const QString&) {}

// Runs work over the items until the time is up, three times; returns the best
// rate in items per second (the machine may be shared).
template <typename Item>
double perSecond(const QList<Item>& items, double seconds, const std::function<void(const Item&)>& work)
{
    double best = 0;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer timer;
        timer.start();
        qint64 done = 0;
        const qint64 limit = qint64(seconds / 3 * 1e9);
        while (timer.nsecsElapsed() < limit) {
            for (const Item& item : items)
                work(item);
            done += items.size();
        }
        best = qMax(best, done / (timer.nsecsElapsed() / 1e9));
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QCoreApplication::applicationDirPath();
    const double seconds = argc > 2 ? atof(argv[2]) : 1.0;
    qInstallMessageHandler(dropAll);

    ZQBusinessManager manager(nullptr);
    QList<ZQTbusiness*> modules;
    for (const char* name : {"DiscCommand.xml", "control.xml", "SmSc.xml"}) {
        auto* module = new ZQTbusiness(manager.screen(), nullptr);
        module->setConfigPath(folder + "/" + name);
        module->init();
        modules.append(module);
        manager.insertModule(modules.size() - 1, module);
    }

    // What a panel sends most: pen keys, channel and screen reports, texts,
    // and some traffic that no table knows (passed through).
    const QList<QByteArray> frames = {
        frame("C1020C"), frame("C10103"), frame("C145"), frame("C12001"), frame("C20102"),
        frame("C20501000101"), frame("C304526F6F6D20313031"), frame("C30701"), frame("013112"),
        frame("12345678"),
    };
    const QList<QString> messages = {
        "{\"eventid\":\"SET_DISC_PEN_WIDTH\",\"param\":[{\"type\":\"Width\",\"value\":6}]}",
        "{\"eventid\":\"SET_DISC_PEN_COLOR\",\"param\":[{\"type\":\"Color\",\"value\":\"#FF0000\"}]}",
        "{\"eventid\":\"SWITCH_CHANNEL\",\"param\":[{\"value\":2}]}",
        "{\"eventid\":\"SET_VOLUME\",\"param\":[{\"value\":35}]}",
        "{\"eventid\":\"SMSC_THEME\",\"param\":[{\"value\":\"dark\"}]}",
        "{\"eventid\":\"GET_SCREEN_MONITORS_RESOLUTION\",\"id\":\"7\"}",
        "{\"eventid\":\"EVENT_ANY\",\"param\":\"EjRWeA==\"}",
    };
    QList<QJsonObject> objects;
    for (const QString& m : messages)
        objects.append(QJsonDocument::fromJson(m.toUtf8()).object());

    int produced = 0;
    auto analyse = [&](const QByteArray& f) {
        for (ZQTbusiness* module : qAsConst(modules)) {
            QByteArray key;
            if (module->isCanDealCommand(f, key)) {
                produced += module->DealCommand(f, key).size();
                return;
            }
        }
    };
    auto fit = [&](const QJsonObject& m) {
        for (ZQTbusiness* module : qAsConst(modules)) {
            if (module->isCanDealMessage(m)) {
                produced += module->DealMessage(m).size();
                return;
            }
        }
    };
    if (modules.first()->isCanDealMessage(objects.first()) == false) {
        fprintf(stderr, "no tables in %s\n", qPrintable(folder));
        return 1;
    }
    std::function<void(const QByteArray&)> analyseFn = analyse;
    std::function<void(const QJsonObject&)> fitFn = fit;
    std::function<void(const QByteArray&)> managerFrame = [&](const QByteArray& f) { manager.DealCommand(f); };
    std::function<void(const QString&)> managerMessage = [&](const QString& m) { manager.DealMessage(m); };

    printf("command-table benchmark, tables from %s, %.1f s per figure\n", qPrintable(folder), seconds);
    for (bool debugOn : {true, false}) {
        // With the per-frame debug line formatted (and dropped here), and with
        // its category switched off so that it is never formatted.
        QLoggingCategory::setFilterRules(debugOn ? "vela.tables.debug=true" : "vela.tables.debug=false");
        const char* label = debugOn ? "analysis debug line on" : "analysis debug line off";
        printf("[%s]\n", label);
        printf("  frames analysed per second (engines):          %12.0f\n", perSecond(frames, seconds, analyseFn));
        printf("  frames analysed per second (manager, to text): %12.0f\n", perSecond(frames, seconds, managerFrame));
        printf("  messages fitted per second (engines):          %12.0f\n", perSecond(objects, seconds, fitFn));
        printf("  messages fitted per second (manager, parsed):  %12.0f\n", perSecond(messages, seconds, managerMessage));
    }
    return produced >= 0 ? 0 : 1;
}
