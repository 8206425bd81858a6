// velatables: the command tables of the control centre without a centre and
// without a board.
//
//   velatables check DIR          what the centre would skip or mis-read
//   velatables decode HEX...      board frames through the modules
//   velatables encode JSON...     bus messages through the modules
//
// Exit status: 0 fine, 1 check found errors (or an input was not hex / JSON),
// 2 wrong use.

#include "centretables.h"
#include "dvscreen.h"
#include "frontapp.h"
#include "izqbusiness.h"
#include "tablecheck.h"
#include "tabletrace.h"
#include "zqbusinessmanager.h"
#include "zqframescan.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTextStream>


namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

QString indented(const QString &text, const QString &prefix)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return prefix + lines.join(QLatin1Char('\n') + prefix) + QLatin1Char('\n');
}

// The inputs: the arguments after the command, or the lines of the standard
// input when there are none.
QStringList inputs(const QStringList &arguments)
{
    if (!arguments.isEmpty())
        return arguments;
    QStringList lines;
    QTextStream in(stdin);
    QString line;
    while (in.readLineInto(&line)) {
        line = line.trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
            lines << line;
    }
    return lines;
}

// Hex text with or without blanks, colons or commas between the bytes.
bool parseHex(QString text, QByteArray &bytes)
{
    text.remove(QRegularExpression(QStringLiteral("[\\s:,]")));
    if (text.isEmpty() || text.size() % 2 != 0 || text.contains(QRegularExpression(QStringLiteral("[^0-9A-Fa-f]"))))
        return false;
    bytes = QByteArray::fromHex(text.toLatin1());
    return true;
}

QString keyText(const QByteArray &key)
{
    return key.isEmpty() ? QString() : QStringLiteral(", key ") + ZQFrameScan::toHex(key, ' ');
}

QJsonObject sourceJson(const TableTrace::Source &source)
{
    QJsonObject o;
    if (source.table.isEmpty())
        return o;
    o.insert(QStringLiteral("table"), source.table);
    o.insert(QStringLiteral("line"), source.line);
    o.insert(QStringLiteral("event"), source.event);
    o.insert(QStringLiteral("kind"), source.kind);
    return o;
}

QString sourceText(const TableTrace::Source &source)
{
    return QStringLiteral("%1:%2 %3, %4").arg(source.table).arg(source.line).arg(source.event, source.kind);
}

QJsonArray texts(const QStringList &list)
{
    QJsonArray a;
    for (const QString &s : list)
        a.append(s);
    return a;
}

QJsonArray messages(const QStringList &list)
{
    QJsonArray a;
    for (const QString &s : list)
        a.append(IZQBusiness::messageTextToJson(s));
    return a;
}

QJsonArray frames(const QList<QByteArray> &list)
{
    QJsonArray a;
    for (const QByteArray &f : list)
        a.append(QString::fromLatin1(f.toHex().toUpper()));
    return a;
}

void printCommon(const QStringList &bus, const QStringList &local, const QList<QByteArray> &board)
{
    for (const QString &text : bus)
        out() << "  on the bus, published by ID_APP_VELACENTER:\n" << indented(text, QStringLiteral("    "));
    for (const QString &name : local)
        out() << "  local operation " << name << " for the centre's local operator (it acts on the PC)\n";
    for (const QByteArray &frame : board)
        out() << "  to the board: " << ZQFrameScan::toHex(frame, ' ') << '\n';
}

int check(const QString &folder, bool notes)
{
    if (!QFileInfo(folder).isDir()) {
        err() << "velatables: " << folder << " is not a folder\n";
        return 2;
    }
    CentreTables tables(folder);
    TableCheck checker(&tables);
    int errors = 0, warnings = 0;
    for (const TableCheck::Finding &f : checker.run()) {
        if (f.severity == TableCheck::Note && !notes)
            continue;
        out() << QDir(folder).filePath(f.file) << ':' << f.line << ": " << TableCheck::severityWord(f.severity) << ": "
              << (f.event.isEmpty() ? QString() : f.event + QStringLiteral(": ")) << f.text << '\n';
        errors += f.severity == TableCheck::Error;
        warnings += f.severity == TableCheck::Warning;
    }
    out() << errors << (errors == 1 ? " error, " : " errors, ") << warnings
          << (warnings == 1 ? " warning" : " warnings") << " in " << QDir(folder).absolutePath() << '\n';
    return errors ? 1 : 0;
}

int decode(TableTrace &trace, const QStringList &arguments, bool json)
{
    // Bytes given one per argument, one after the other, are one frame.
    QStringList items;
    bool joining = false;
    for (const QString &item : inputs(arguments)) {
        const bool oneByte = item.trimmed().size() == 2;
        if (oneByte && joining)
            items.last() += QLatin1Char(' ') + item;
        else
            items << item;
        joining = oneByte;
    }
    int status = 0;
    for (const QString &item : qAsConst(items)) {
        QByteArray bytes;
        if (!parseHex(item, bytes)) {
            err() << "velatables: not hex bytes: " << item << '\n';
            status = 1;
            continue;
        }
        const TableTrace::Decoded d = trace.decode(TableTrace::frameOf(bytes));
        if (json) {
            QJsonObject o;
            o.insert(QStringLiteral("frame"), QString::fromLatin1(d.frame.toHex().toUpper()));
            o.insert(QStringLiteral("module"), d.module);
            o.insert(QStringLiteral("tableModule"), d.tableModule);
            o.insert(QStringLiteral("key"), QString::fromLatin1(d.key.toHex().toUpper()));
            o.insert(QStringLiteral("inCode"), d.inCode);
            o.insert(QStringLiteral("source"), sourceJson(d.source));
            o.insert(QStringLiteral("table"), d.tableResult);
            o.insert(QStringLiteral("bus"), messages(d.bus));
            o.insert(QStringLiteral("local"), texts(d.local));
            o.insert(QStringLiteral("board"), frames(d.board));
            out() << QJsonDocument(o).toJson(QJsonDocument::Compact) << '\n';
            continue;
        }
        out() << ZQFrameScan::toHex(d.frame, ' ') << '\n';
        if (d.module.isEmpty()) {
            out() << "  no module claims it: EVENT_ANY\n";
        } else if (!d.tableModule) {
            out() << "  " << d.module << keyText(d.key) << ": handled by " << d.module.section(QLatin1Char(' '), 0, 0)
                  << " in code\n";
            continue;
        } else {
            out() << "  " << d.module << keyText(d.key);
            if (d.inCode)
                out() << ": decoded in code by the module\n";
            else if (!d.source.table.isEmpty())
                out() << ": " << sourceText(d.source) << '\n';
            else
                out() << '\n';
            if (!d.inCode && !d.tableResult.isEmpty())
                out() << "  table gives " << QJsonDocument(d.tableResult).toJson(QJsonDocument::Compact) << '\n';
            if (!d.inCode && d.tableResult.isEmpty() && d.source.table.isEmpty())
                out() << "  no entry of the table decodes this key, nor does the module's code\n";
            else if (!d.inCode && d.tableResult.isEmpty())
                out() << "  the entry gives no message for this frame (" << d.frame.size()
                      << " bytes; it matches len " << d.source.len << " and values inside the frame)\n";
        }
        printCommon(d.bus, d.local, d.board);
        if (!d.tableResult.isEmpty() && d.bus.isEmpty() && d.local.isEmpty() && d.board.isEmpty())
            out() << "  nothing is sent (the module found no application in front to send it to)\n";
    }
    return status;
}

int encode(TableTrace &trace, const QStringList &arguments, bool json)
{
    int status = 0;
    for (const QString &item : inputs(arguments)) {
        if (!QJsonDocument::fromJson(item.toUtf8()).isObject()) {
            err() << "velatables: not a JSON object: " << item << '\n';
            status = 1;
            continue;
        }
        const TableTrace::Encoded e = trace.encode(item);
        if (json) {
            QJsonObject o;
            o.insert(QStringLiteral("message"), e.message);
            o.insert(QStringLiteral("module"), e.module);
            o.insert(QStringLiteral("tableModule"), e.tableModule);
            o.insert(QStringLiteral("inCode"), e.inCode);
            QJsonArray sources;
            for (const TableTrace::Source &s : e.sources)
                sources.append(sourceJson(s));
            o.insert(QStringLiteral("sources"), sources);
            o.insert(QStringLiteral("frames"), frames(e.frames));
            QJsonArray parts;
            for (const QList<QByteArray> &p : e.parts)
                parts.append(frames(p));
            o.insert(QStringLiteral("v2parts"), parts);
            o.insert(QStringLiteral("bus"), messages(e.bus));
            o.insert(QStringLiteral("local"), texts(e.local));
            out() << QJsonDocument(o).toJson(QJsonDocument::Compact) << '\n';
            continue;
        }
        out() << QJsonDocument(e.message).toJson(QJsonDocument::Compact) << '\n';
        if (e.module.isEmpty()) {
            out() << (e.passThrough ? "  no module claims it: EVENT_ANY, the frame around its decoded \"param\"\n"
                                    : "  no module claims it: dropped\n");
        } else if (!e.tableModule) {
            out() << "  " << e.module << ": handled by " << e.module.section(QLatin1Char(' '), 0, 0) << " in code\n";
            continue;
        } else {
            out() << "  " << e.module << (e.inCode ? ": built in code by the module\n" : "\n");
        }
        for (int i = 0; i < e.frames.size(); ++i) {
            out() << "  to the board: " << ZQFrameScan::toHex(e.frames.at(i), ' ');
            if (i < e.sources.size() && !e.sources.at(i).table.isEmpty())
                out() << "  (" << sourceText(e.sources.at(i)) << ')';
            out() << '\n';
            const QList<QByteArray> parts = e.parts.value(i);
            if (parts.isEmpty())
                continue;
            out() << "  on link version 2 as " << parts.size() << " part frames (split serial "
                  << quint8(parts.first().at(6)) << " here; the centre counts it up with every split command):\n";
            for (const QByteArray &part : parts)
                out() << "    " << ZQFrameScan::toHex(part, ' ') << '\n';
        }
        printCommon(e.bus, e.local, {});
        if (e.frames.isEmpty() && e.bus.isEmpty() && e.local.isEmpty())
            out() << "  nothing is sent\n";
    }
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velatables"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The control centre's command tables without a centre or a board.\n"
        "  check DIR        report, with file and line, what the centre would skip or mis-read\n"
        "                   in DIR's DiscCommand.xml, control.xml and SmSc.xml\n"
        "  decode HEX...    board frames (or their command bytes) through the modules\n"
        "  encode JSON...   bus messages through the modules\n"
        "Without HEX or JSON the inputs are read from standard input, one per line."));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption tablesOption(QStringLiteral("tables"),
                                    QStringLiteral("Tables of this folder (default: beside this program, as the centre's)."),
                                    QStringLiteral("dir"), QCoreApplication::applicationDirPath());
    QCommandLineOption frontOption(QStringLiteral("front"),
                                   QStringLiteral("decode: the application in front, which the whiteboard module "
                                                  "addresses (default ID_APP_VELATOUCHPRO; \"none\": no application)."),
                                   QStringLiteral("id"), QStringLiteral("ID_APP_VELATOUCHPRO"));
    QCommandLineOption screenOption(QStringLiteral("screen"),
                                    QStringLiteral("Screen generation for pen widths: 0 (not reported yet), 2018 or 2019."),
                                    QStringLiteral("version"), QStringLiteral("0"));
    QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("One JSON object per input, for programs."));
    QCommandLineOption notesOption(QStringLiteral("notes"),
                                   QStringLiteral("check: also the notes (entries a module uses for something else)."));
    parser.addOptions({tablesOption, frontOption, screenOption, jsonOption, notesOption});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("check, decode or encode"));
    parser.process(app);

    QStringList arguments = parser.positionalArguments();
    const QString command = arguments.value(0);
    arguments.removeFirst();
    if (command == QLatin1String("check")) {
        if (arguments.size() != 1) {
            err() << "velatables: check takes one folder\n";
            return 2;
        }
        return check(arguments.first(), parser.isSet(notesOption));
    }
    if (command != QLatin1String("decode") && command != QLatin1String("encode")) {
        err() << "velatables: unknown command \"" << command << "\"; see --help\n";
        return 2;
    }
    bool ok = false;
    const int screen = parser.value(screenOption).toInt(&ok);
    if (!ok || (screen != 0 && screen != 2018 && screen != 2019)) {
        err() << "velatables: --screen takes 0, 2018 or 2019\n";
        return 2;
    }
    // Before anything asks the shared kit which application is in front.
    const QString front = parser.value(frontOption);
    FrontApp desktop(front == QLatin1String("none") ? QString() : front);
    CentreTables tables(parser.value(tablesOption));
    tables.manager()->screen()->setScreenVersion(screen);
    TableTrace trace(&tables);
    const int status = command == QLatin1String("decode") ? decode(trace, arguments, parser.isSet(jsonOption))
                                                          : encode(trace, arguments, parser.isSet(jsonOption));
    out().flush();
    return status;
}
