#ifndef IZQRESHANDLER_H
#define IZQRESHANDLER_H

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QVariant>
#include <QVector>
#include <QtPlugin>

class QObject;

// One object for every transfer of resources to and from cloud storage.
// Download calls go to the download plug-in, upload calls to the upload
// plug-in; without the plug-in a call does nothing and answers a default
// (false, -1, 0, an empty text or object). Progress and results arrive as
// signals of getObject().
class IZQResHandler
{
public:
    virtual QObject *getObject() = 0;
    virtual void setParams(QJsonObject params) = 0;
    virtual void downloadFile(QJsonObject info) = 0;
    virtual void stopDownloadFile(QString url, bool renewal) = 0;
    virtual void downloadFileByList(QJsonArray fileList) = 0;
    virtual void stopDownloadFileList() = 0;
    virtual void uploadFile(QJsonObject info) = 0;
    virtual void stopUploadFile() = 0;
    virtual void stopUploadFile(QString localPath, QString remotePath, QString bucketName) = 0;
    virtual void cancelUploadingFile(QString localPath, QString remotePath, QString bucketName) = 0;
    virtual void uploadFileByList(QJsonArray fileList) = 0;
    virtual void uploadFileByList(const QVector<QVariant> &vector) = 0;
    virtual void stopUploadFileList() = 0;
    virtual bool isUploadThreadsRunning() = 0;
    virtual void downlodAvatarPixmap(QString url) = 0;
    virtual QString getCosFileUrlBySdk(QString bucketName, QString remotePath) = 0;
    virtual QString getCosFileUrl(QString bucketName, QString remotePath, QString sourceType) = 0;
    virtual QJsonObject getCosFileInfo(QString bucketName, QString remotePath, QString sourceType,
                                       QString bc_bcode) = 0;
    virtual QJsonObject getCosFileInfoBySdk(QString bucketName, QString remotePath, QString bc_bcode) = 0;
    virtual int advanceUploadFile(QString bucketName, QString localPath, QString remotePath, bool replace) = 0;
    virtual double getAdvanceUploadProgress() = 0;
    virtual int getcosFileStatus(QString bucketName, QString remotepath, QString sourceType) = 0;
    virtual int deleteCosFile(QString bucketName, QString remotepath) = 0;
    virtual void limitDownloadSpeed(bool limit, int speed) = 0;
    virtual QJsonObject getFileInfoByHttpHead(QString url) = 0;
    virtual void uploadFileByPost(QJsonObject info) = 0;
    virtual void stopUploadFileByPost(QJsonObject info) = 0;
    virtual void uploadOssFile(QJsonObject info) = 0;

protected:
    // The instance belongs to the plug-in loader, never to a caller.
    ~IZQResHandler() = default;
};

#define IZQResHandler_iid "com.zqt.bricks.IZQResHandler/1.0"
Q_DECLARE_INTERFACE(IZQResHandler, IZQResHandler_iid)

#endif
