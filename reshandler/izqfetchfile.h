#ifndef IZQFETCHFILE_H
#define IZQFETCHFILE_H

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QtPlugin>

class QObject;

// The download plug-in "fetchFile.so" that resHandler loads. It is given the
// resHandler object once through initDownloadManager() and reports through
// that object's signals (signalDownloadStart, signalDownloadFinished,
// signalDownloadProgress, signalDownloadQueueEmpty, signalAvatarquit,
// signalAvatarData, signalReturnFileInfoByHttpHead), e.g. with
// QMetaObject::invokeMethod or a signal-to-signal connection.
class IZQFetchFile
{
public:
    virtual QObject *getObject() = 0;
    virtual void setParams(QJsonObject params) = 0;
    virtual void initDownloadManager(QObject *resHandler) = 0;
    virtual void downloadFile(QJsonObject info) = 0;
    virtual void stopDownloadFile(QString url, bool renewal) = 0;
    virtual void downloadFileByList(QJsonArray fileList) = 0;
    virtual void stopDownloadFileList() = 0;
    virtual void downlodAvatarPixmap(QString url) = 0;
    virtual void limitDownloadSpeed(bool limit, int speed) = 0;
    virtual QJsonObject getFileInfoByHttpHead(QString url) = 0;

protected:
    ~IZQFetchFile() = default;
};

#define IZQFetchFile_iid "com.zqt.bricks.nethub.IZQFetchFile/1.0"
Q_DECLARE_INTERFACE(IZQFetchFile, IZQFetchFile_iid)

#endif
