#ifndef STANDINPUSHFILE_H
#define STANDINPUSHFILE_H

#include "izqpushfile.h"
#include "standinrecorder.h"

#include <QObject>

// Stand-in upload plug-in "pushFile.so": records every call; results carry
// the recorded line (texts, objects) or a value of their own (numbers) so
// that a caller can tell they were passed back.
class StandInPushFile : public QObject, public IZQPushFile
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "Vela.Test.StandInPushFile")
    Q_INTERFACES(IZQPushFile)
public:
    Q_INVOKABLE QStringList takeCalls() { return m_log.takeCalls(); }
    Q_INVOKABLE bool raise(const QString &signal, const QVariantList &args) { return m_log.raise(signal, args); }

    QObject *getObject() override { return this; }
    void initUploadManager(QObject *resHandler) override
    {
        m_log.record("initUploadManager", resHandler);
        m_log.setTarget(resHandler);
    }
    void uploadFile(QJsonObject info) override { m_log.record("uploadFile", info); }
    void stopUploadFile() override { m_log.record("stopUploadFile"); }
    void stopUploadFile(QString l, QString r, QString b) override { m_log.record("stopUploadFile", l, r, b); }
    void cancelUploadingFile(QString l, QString r, QString b) override { m_log.record("cancelUploadingFile", l, r, b); }
    void uploadFileByList(QJsonArray fileList) override { m_log.record("uploadFileByList", fileList); }
    void uploadFileByList(const QVector<QVariant> &vector) override { m_log.record("uploadFileByList", vector); }
    void stopUploadFileList() override { m_log.record("stopUploadFileList"); }
    bool isUploadThreadsRunning() override { return !m_log.record("isUploadThreadsRunning").isEmpty(); }
    QString getCosFileUrlBySdk(QString b, QString p) override { return m_log.record("getCosFileUrlBySdk", b, p); }
    QString getCosFileUrl(QString b, QString p, QString t) override { return m_log.record("getCosFileUrl", b, p, t); }
    QJsonObject getCosFileInfo(QString b, QString p, QString t, QString c) override
    {
        return {{QStringLiteral("from"), m_log.record("getCosFileInfo", b, p, t, c)}};
    }
    QJsonObject getCosFileInfoBySdk(QString b, QString p, QString c) override
    {
        return {{QStringLiteral("from"), m_log.record("getCosFileInfoBySdk", b, p, c)}};
    }
    int advanceUploadFile(QString b, QString l, QString r, bool replace) override
    {
        m_log.record("advanceUploadFile", b, l, r, replace);
        return 41;
    }
    double getAdvanceUploadProgress() override
    {
        m_log.record("getAdvanceUploadProgress");
        return 0.25;
    }
    int getcosFileStatus(QString b, QString r, QString t) override
    {
        m_log.record("getcosFileStatus", b, r, t);
        return 42;
    }
    int deleteCosFile(QString b, QString r) override
    {
        m_log.record("deleteCosFile", b, r);
        return 43;
    }
    void uploadFileByPost(QJsonObject info) override { m_log.record("uploadFileByPost", info); }
    void stopUploadFileByPost(QJsonObject info) override { m_log.record("stopUploadFileByPost", info); }
    void stopUploadFileByPost(QString l, QString r, QString b) override { m_log.record("stopUploadFileByPost", l, r, b); }
    void uploadOssFile(QJsonObject info) override { m_log.record("uploadOssFile", info); }

private:
    StandInRecorder m_log{"pushFile"};
};

#endif
