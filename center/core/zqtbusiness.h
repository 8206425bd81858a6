#ifndef ZQTBUSINESS_H
#define ZQTBUSINESS_H

#include "izqbusiness.h"
#include "zqtablenote.h"

#include <QDomElement>
#include <QObject>

class DvScreen;
class ZQAnalysisCommand;
class ZQFitCommand;

// Base of the table-driven business modules: everything they do comes from one
// XML command table, read once by init() into an analysis engine (frames to
// messages) and a fitting engine (messages to frames).
class ZQTbusiness : public QObject, public IZQBusiness
{
    Q_OBJECT
public:
    ZQTbusiness(DvScreen* screen, QObject* parent);

    void init() override;
    QObject* getObject() override;
    QJsonObject messageStrToJson(QString message) override;
    bool isCanDealMessage(QJsonObject message) override;
    QByteArray DealMessage(QJsonObject message) override;
    void Send(QByteArray frame) override;
    bool isCanDealCommand(QByteArray frame, QByteArray& key) override;
    QJsonObject DealCommand(QByteArray frame, QByteArray key) override;
    void Send(QJsonObject message) override;

    void dealConfigXml(QDomElement root);
    void createCommand(QDomElement element);
    QByteArray fitCommand(QJsonObject message);
    QJsonObject analysisCommand(QByteArray frame, QByteArray key);

    // The table file that init() reads; subclasses set it in their init().
    void setConfigPath(const QString& path);
    QString configPath() const;

    // Reads the table at configPath() as init() does. Returns why the file is
    // not a usable table (the warning's text, which is also logged); empty
    // when it was read, or is not there at all.
    QString loadConfigFile();

    // Reads a command table from its bytes; name only labels the warning.
    // Returns false (tables untouched) for data that is not a usable table.
    bool loadConfigData(const QByteArray& data, const QString& name);

    // The loader's notes on the entries it reads from now on go to `notes`
    // (both engines and the entry types); null makes none.
    void setNotes(ZQTableNotes* notes);

    // Tables are small; these bounds keep a damaged or hostile file from
    // exhausting memory or the parser's stack.
    static const int kMaxTableBytes = 4 * 1024 * 1024;
    static const int kMaxTableDepth = 64;

    ZQAnalysisCommand* analysisEngine() const { return m_analysis; }
    ZQFitCommand* fitEngine() const { return m_fit; }
    DvScreen* screen() const { return m_screen; }

signals:
    void sigSendMessage(QString msg);
    void sigSendCommend(QByteArray cmd);
    void sigSendLocal(QString local);

private:
    QString readConfig(const QByteArray& data, const QString& name);

    QString m_configPath;
    ZQAnalysisCommand* m_analysis;
    ZQFitCommand* m_fit;
    DvScreen* m_screen;
    ZQTableNotes* m_notes = nullptr;
};

#endif // ZQTBUSINESS_H
