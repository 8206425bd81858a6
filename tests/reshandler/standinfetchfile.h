#ifndef STANDINFETCHFILE_H
#define STANDINFETCHFILE_H

#include "izqfetchfile.h"
#include "standinrecorder.h"

#include <QObject>

// Stand-in download plug-in "fetchFile.so": records every call.
class StandInFetchFile : public QObject, public IZQFetchFile
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "Vela.Test.StandInFetchFile")
    Q_INTERFACES(IZQFetchFile)
public:
    Q_INVOKABLE QStringList takeCalls() { return m_log.takeCalls(); }
    Q_INVOKABLE bool raise(const QString &signal, const QVariantList &args) { return m_log.raise(signal, args); }

    QObject *getObject() override { return this; }
    void setParams(QJsonObject params) override { m_log.record("setParams", params); }
    void initDownloadManager(QObject *resHandler) override
    {
        m_log.record("initDownloadManager", resHandler);
        m_log.setTarget(resHandler);
    }
    void downloadFile(QJsonObject info) override { m_log.record("downloadFile", info); }
    void stopDownloadFile(QString url, bool renewal) override { m_log.record("stopDownloadFile", url, renewal); }
    void downloadFileByList(QJsonArray fileList) override { m_log.record("downloadFileByList", fileList); }
    void stopDownloadFileList() override { m_log.record("stopDownloadFileList"); }
    void downlodAvatarPixmap(QString url) override { m_log.record("downlodAvatarPixmap", url); }
    void limitDownloadSpeed(bool limit, int speed) override { m_log.record("limitDownloadSpeed", limit, speed); }
    QJsonObject getFileInfoByHttpHead(QString url) override
    {
        return {{QStringLiteral("from"), m_log.record("getFileInfoByHttpHead", url)}};
    }

private:
    StandInRecorder m_log{"fetchFile"};
};

#endif
