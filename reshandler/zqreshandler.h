#ifndef ZQRESHANDLER_H
#define ZQRESHANDLER_H

#include "izqreshandler.h"

#include <QNetworkReply>
#include <QObject>
#include <QPixmap>

class IZQFetchFile;
class IZQPushFile;

// The resource plug-in: loads the download plug-in "fetchFile.so" and the
// upload plug-in "pushFile.so" once, at construction, hands both this object
// for their reports, and forwards every call to the one that serves it.
class ZQResHandler : public QObject, public IZQResHandler
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "NetHub.ZQResHandler.Plugin")
    Q_INTERFACES(IZQResHandler)
public:
    explicit ZQResHandler(QObject *parent = nullptr);

    QObject *getObject() override;
    void setParams(QJsonObject params) override;
    void downloadFile(QJsonObject info) override;
    void stopDownloadFile(QString url, bool renewal) override;
    void downloadFileByList(QJsonArray fileList) override;
    void stopDownloadFileList() override;
    void uploadFile(QJsonObject info) override;
    void stopUploadFile() override;
    void stopUploadFile(QString localPath, QString remotePath, QString bucketName) override;
    void cancelUploadingFile(QString localPath, QString remotePath, QString bucketName) override;
    void uploadFileByList(QJsonArray fileList) override;
    void uploadFileByList(const QVector<QVariant> &vector) override;
    void stopUploadFileList() override;
    bool isUploadThreadsRunning() override;
    void downlodAvatarPixmap(QString url) override;
    QString getCosFileUrlBySdk(QString bucketName, QString remotePath) override;
    QString getCosFileUrl(QString bucketName, QString remotePath, QString sourceType) override;
    QJsonObject getCosFileInfo(QString bucketName, QString remotePath, QString sourceType,
                               QString bc_bcode) override;
    QJsonObject getCosFileInfoBySdk(QString bucketName, QString remotePath, QString bc_bcode) override;
    int advanceUploadFile(QString bucketName, QString localPath, QString remotePath, bool replace) override;
    double getAdvanceUploadProgress() override;
    int getcosFileStatus(QString bucketName, QString remotepath, QString sourceType) override;
    int deleteCosFile(QString bucketName, QString remotepath) override;
    void limitDownloadSpeed(bool limit, int speed) override;
    QJsonObject getFileInfoByHttpHead(QString url) override;
    void uploadFileByPost(QJsonObject info) override;
    void stopUploadFileByPost(QJsonObject info) override;
    void uploadOssFile(QJsonObject info) override;

signals:
    void signalDownloadStart(bool ok, QJsonObject info);
    void signalDownloadFinished(bool ok, QJsonObject info);
    void signalDownloadProgress(QJsonObject info, int percent, QString speed);
    void signalUploadFinished(int state, QJsonObject info);
    void signalUploadProgress(QJsonObject info, int percent);
    void signalDownloadQueueEmpty(bool empty);
    void signalAvatarquit(QNetworkReply::NetworkError error);
    void signalAvatarData(QPixmap &pixmap);
    void signalReturnFileInfoByHttpHead(bool ok, QJsonObject info);

private:
    IZQFetchFile *m_pFetchFile = nullptr;
    IZQPushFile *m_pPushFile = nullptr;
};

#endif
