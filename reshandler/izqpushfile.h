#ifndef IZQPUSHFILE_H
#define IZQPUSHFILE_H

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QVariant>
#include <QVector>
#include <QtPlugin>

class QObject;

// The upload plug-in "pushFile.so" that resHandler loads. It is given the
// resHandler object once through initUploadManager() and reports through
// that object's signals (signalUploadFinished, signalUploadProgress).
// resHandler never calls getCosFileUrlBySdk() or the three-text
// stopUploadFileByPost(); they are there for callers that load the plug-in
// themselves.
class IZQPushFile
{
public:
    virtual QObject *getObject() = 0;
    virtual void initUploadManager(QObject *resHandler) = 0;
    virtual void uploadFile(QJsonObject info) = 0;
    virtual void stopUploadFile() = 0;
    virtual void stopUploadFile(QString localPath, QString remotePath, QString bucketName) = 0;
    virtual void cancelUploadingFile(QString localPath, QString remotePath, QString bucketName) = 0;
    virtual void uploadFileByList(QJsonArray fileList) = 0;
    virtual void uploadFileByList(const QVector<QVariant> &vector) = 0;
    virtual void stopUploadFileList() = 0;
    virtual bool isUploadThreadsRunning() = 0;
    virtual QString getCosFileUrlBySdk(QString bucketName, QString remotePath) = 0;
    virtual QString getCosFileUrl(QString bucketName, QString remotePath, QString sourceType) = 0;
    virtual QJsonObject getCosFileInfo(QString bucketName, QString remotePath, QString sourceType,
                                       QString bc_bcode) = 0;
    virtual QJsonObject getCosFileInfoBySdk(QString bucketName, QString remotePath, QString bc_bcode) = 0;
    virtual int advanceUploadFile(QString bucketName, QString localPath, QString remotePath, bool replace) = 0;
    virtual double getAdvanceUploadProgress() = 0;
    virtual int getcosFileStatus(QString bucketName, QString remotepath, QString sourceType) = 0;
    virtual int deleteCosFile(QString bucketName, QString remotepath) = 0;
    virtual void uploadFileByPost(QJsonObject info) = 0;
    virtual void stopUploadFileByPost(QJsonObject info) = 0;
    virtual void stopUploadFileByPost(QString localPath, QString remotePath, QString bucketName) = 0;
    virtual void uploadOssFile(QJsonObject info) = 0;

protected:
    ~IZQPushFile() = default;
};

#define IZQPushFile_iid "com.zqt.bricks.nethub.IZQPushFile/1.0"
Q_DECLARE_INTERFACE(IZQPushFile, IZQPushFile_iid)

#endif
