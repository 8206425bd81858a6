#include "zqtbusiness.h"

#include "frameworklogging.h"
#include "zqanalysiscommand.h"
#include "zqfitcommand.h"

#include <QDebug>
#include <QDomDocument>
#include <QFile>
#include <QXmlStreamReader>

namespace {

// The DOM parser recurses once per nesting level and overflows the stack on
// documents nested tens of thousands deep; the stream reader does not recurse,
// so it vets the shape first. Entity declarations are refused as well: a
// table has no use for them and they can blow up on expansion.
QString tableShapeError(const QByteArray& data)
{
    if (data.size() > ZQTbusiness::kMaxTableBytes)
        return QStringLiteral("larger than %1 bytes").arg(ZQTbusiness::kMaxTableBytes);
    QXmlStreamReader reader(data);
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (++depth > ZQTbusiness::kMaxTableDepth)
                return QStringLiteral("nested deeper than %1 levels").arg(ZQTbusiness::kMaxTableDepth);
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::DTD:
            if (!reader.entityDeclarations().isEmpty())
                return QStringLiteral("declares entities");
            break;
        default:
            break;
        }
    }
    if (reader.hasError())
        return QStringLiteral("line %1 column %2: %3")
            .arg(reader.lineNumber())
            .arg(reader.columnNumber())
            .arg(reader.errorString());
    return QString();
}

// The bytes of a table file parsed into `document`; the reason when they are
// not a usable table (the warning's text), else empty.
QString parseTable(const QByteArray& data, QDomDocument& document)
{
    QString error = tableShapeError(data);
    if (error.isEmpty()) {
        QString domError;
        int line = 0;
        int column = 0;
        if (!document.setContent(data, &domError, &line, &column))
            error = QStringLiteral("line %1 column %2: %3").arg(line).arg(column).arg(domError);
    }
    return error;
}

} // namespace

ZQTbusiness::ZQTbusiness(DvScreen* screen, QObject* parent)
    : QObject(parent)
    , m_fit(new ZQFitCommand(screen, this))
    , m_screen(screen)
{
    m_analysis = new ZQAnalysisCommand(screen, this);
}

void ZQTbusiness::setConfigPath(const QString& path)
{
    m_configPath = path;
}

QString ZQTbusiness::configPath() const
{
    return m_configPath;
}

void ZQTbusiness::init()
{
    loadConfigFile();
}

QString ZQTbusiness::loadConfigFile()
{
    // A missing table leaves the module inert, silently: not every panel
    // carries every table.
    if (m_configPath.isEmpty() || !QFile::exists(m_configPath))
        return QString();
    QFile file(m_configPath);
    if (!file.open(QIODevice::ReadOnly)) {
        const QString error = QStringLiteral("cannot be read: ") + file.errorString();
        qCWarning(lcTables).noquote() << "command table" << m_configPath << error;
        return error;
    }
    // One byte past the limit is enough to tell an oversized file.
    const QByteArray data = file.read(qint64(kMaxTableBytes) + 1);
    file.close();
    return readConfig(data, m_configPath);
}

void ZQTbusiness::setNotes(ZQTableNotes* notes)
{
    m_notes = notes;
    m_analysis->setNotes(notes);
    m_fit->setNotes(notes);
}

bool ZQTbusiness::loadConfigData(const QByteArray& data, const QString& name)
{
    return readConfig(data, name).isEmpty();
}

QString ZQTbusiness::readConfig(const QByteArray& data, const QString& name)
{
    QDomDocument document;
    const QString error = parseTable(data, document);
    if (!error.isEmpty()) {
        qCWarning(lcTables).noquote() << "command table" << name << "cannot be parsed," << error;
        return error;
    }
    dealConfigXml(document.documentElement());
    return QString();
}

void ZQTbusiness::dealConfigXml(QDomElement root)
{
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (node.isElement())
            createCommand(node.toElement());
    }
}

void ZQTbusiness::createCommand(QDomElement element)
{
    const QString type = element.attribute(QStringLiteral("commandType"));
    if (type == QLatin1String("fit"))
        m_fit->ReadXmlElement(element);
    else if (type == QLatin1String("analysis"))
        m_analysis->ReadXmlElement(element);
    else
        ZQAnalysisCommand::note(m_notes, element,
                                QStringLiteral("commandType \"%1\" is neither \"analysis\" nor \"fit\"; the entry is skipped")
                                    .arg(type));
}

QByteArray ZQTbusiness::fitCommand(QJsonObject message)
{
    return m_fit->fit(message);
}

QJsonObject ZQTbusiness::analysisCommand(QByteArray frame, QByteArray key)
{
    return m_analysis->analysis(key, frame);
}

QObject* ZQTbusiness::getObject()
{
    return this;
}

QJsonObject ZQTbusiness::messageStrToJson(QString message)
{
    return messageTextToJson(message);
}

bool ZQTbusiness::isCanDealMessage(QJsonObject message)
{
    if (message.isEmpty())
        return false;
    return m_fit->isCanFit(message);
}

QByteArray ZQTbusiness::DealMessage(QJsonObject message)
{
    return fitCommand(message);
}

void ZQTbusiness::Send(QByteArray frame)
{
    if (!frame.isEmpty())
        emit sigSendCommend(frame);
}

bool ZQTbusiness::isCanDealCommand(QByteArray frame, QByteArray& key)
{
    // The shortest prefix of the bytes after the header that the table knows.
    for (int p = 8; p < frame.size(); ++p) {
        key.append(frame.at(p));
        if (m_analysis->findSpacialCmd(key))
            return true;
    }
    return false;
}

QJsonObject ZQTbusiness::DealCommand(QByteArray frame, QByteArray key)
{
    return analysisCommand(frame, key);
}

void ZQTbusiness::Send(QJsonObject message)
{
    if (!message.isEmpty())
        emit sigSendMessage(jsonToMessageText(message));
}
