#include "centretables.h"

#include "izqbusiness.h"
#include "zqanalysiscommand.h"
#include "zqbusinessmanager.h"
#include "zqtableentry.h"
#include "zqtbusiness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

// The table file of each module, as the module's own init() names it (empty
// for the modules written in code). init() also loads the tables beside this
// program, so it runs on a spare set of modules, with their messages off.
QStringList tableFiles()
{
    const QtMessageHandler previous = qInstallMessageHandler(quiet);
    QStringList files;
    {
        ZQBusinessManager spare(nullptr);
        for (IZQBusiness *module : spare.modules()) {
            auto *table = qobject_cast<ZQTbusiness *>(module->getObject());
            QString file;
            if (table) {
                table->init();
                if (!table->configPath().isEmpty())
                    file = QFileInfo(table->configPath()).fileName();
            }
            files << file;
        }
    }
    qInstallMessageHandler(previous);
    return files;
}

} // namespace

CentreTables::CentreTables(const QString &folder, QObject *parent)
    : QObject(parent)
    , m_manager(new ZQBusinessManager(this))
{
    const QStringList files = tableFiles();
    const QList<IZQBusiness *> modules = m_manager->modules();
    for (int i = 0; i < modules.size() && i < files.size(); ++i) {
        auto *module = qobject_cast<ZQTbusiness *>(modules.at(i)->getObject());
        if (!module || files.at(i).isEmpty())
            continue;
        Table table;
        table.module = module;
        table.file = files.at(i);
        table.path = QDir(folder).filePath(table.file);
        m_tables.append(table);
    }
    // The loader's own warning says what the error says; it is reported once.
    QLoggingCategory::setFilterRules(QStringLiteral("vela.tables.warning=false"));
    for (Table &table : m_tables) {
        table.present = QFileInfo(table.path).isFile();
        table.module->setConfigPath(table.path);
        table.module->setNotes(&table.notes);
        table.error = table.module->loadConfigFile();
        table.module->setNotes(nullptr);
        const QRegularExpressionMatch line = QRegularExpression(QStringLiteral("^line (\\d+)")).match(table.error);
        if (line.hasMatch())
            table.errorLine = line.captured(1).toInt();
    }
    QLoggingCategory::setFilterRules(QString());
}

CentreTables::~CentreTables() = default;

const CentreTables::Table *CentreTables::tableOf(const IZQBusiness *module) const
{
    if (!module)
        return nullptr;
    QObject *object = const_cast<IZQBusiness *>(module)->getObject();
    for (const Table &table : m_tables)
        if (table.module == object)
            return &table;
    return nullptr;
}

int CentreTables::place(const IZQBusiness *module) const
{
    return m_manager->modules().indexOf(const_cast<IZQBusiness *>(module)) + 1;
}

QString CentreTables::describe(const IZQBusiness *module) const
{
    if (!module)
        return QStringLiteral("no module");
    IZQBusiness *m = const_cast<IZQBusiness *>(module);
    QString text = QStringLiteral("%1 (module %2").arg(QLatin1String(m->getObject()->metaObject()->className()))
                       .arg(place(module));
    if (const Table *table = tableOf(module))
        text += QStringLiteral(", ") + table->file;
    return text + QLatin1Char(')');
}

const ZQTableEntry *CentreTables::decidingEntry(const QList<ZQTableEntry> &entries, const QByteArray &key)
{
    for (const ZQTableEntry &entry : entries)
        if (entry.key == key)
            return &entry;
    return nullptr;
}

const ZQTableEntry *CentreTables::fitEntry(const QList<ZQTableEntry> &entries, const QString &event)
{
    for (const ZQTableEntry &entry : entries)
        if (entry.eventName == event)
            return &entry;
    return nullptr;
}
