#include "zqreshandler.h"

#include "izqfetchfile.h"
#include "izqpushfile.h"
#include "reshandlerlogging.h"

#include <QCoreApplication>
#include <QDebug>
#include <QPluginLoader>

namespace {

// The served plug-ins sit beside the program, or in the work directory the
// application publishes as its "workDir" property.
QString pluginPath(const QString &fileName)
{
    QString dir = qApp ? qApp->property("workDir").toString() : QString();
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    return dir + QLatin1Char('/') + fileName;
}

// The interface of the plug-in file, or null with the log line. A plug-in
// of another interface is refused by the interface cast, never cast blindly.
template <typename Interface>
Interface *loadPlugin(const QString &fileName, const char *logPrefix)
{
    QPluginLoader loader(pluginPath(fileName));
    QObject *root = loader.instance();
    Interface *plugin = qobject_cast<Interface *>(root);
    if (!plugin) {
        const QString why = root ? QStringLiteral("%1 is not a %2 plug-in")
                                       .arg(loader.fileName(), QLatin1String(qobject_interface_iid<Interface *>()))
                                 : loader.errorString();
        qCDebug(lcResHandler).noquote() << QLatin1String(logPrefix) + why;
    }
    return plugin;
}

} // namespace

ZQResHandler::ZQResHandler(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
    m_pFetchFile = loadPlugin<IZQFetchFile>(QStringLiteral("fetchFile.so"), "fetchFile.dll.");
    if (m_pFetchFile)
        m_pFetchFile->initDownloadManager(this);
    m_pPushFile = loadPlugin<IZQPushFile>(QStringLiteral("pushFile.so"), "pushFile.dll.");
    if (m_pPushFile)
        m_pPushFile->initUploadManager(this);
}

QObject *ZQResHandler::getObject()
{
    return this;
}

void ZQResHandler::setParams(QJsonObject params)
{
    if (m_pFetchFile)
        m_pFetchFile->setParams(params);
}

void ZQResHandler::downloadFile(QJsonObject info)
{
    if (m_pFetchFile)
        m_pFetchFile->downloadFile(info);
}

void ZQResHandler::stopDownloadFile(QString url, bool renewal)
{
    if (m_pFetchFile)
        m_pFetchFile->stopDownloadFile(url, renewal);
}

void ZQResHandler::downloadFileByList(QJsonArray fileList)
{
    if (m_pFetchFile)
        m_pFetchFile->downloadFileByList(fileList);
}

void ZQResHandler::stopDownloadFileList()
{
    if (m_pFetchFile)
        m_pFetchFile->stopDownloadFileList();
}

void ZQResHandler::uploadFile(QJsonObject info)
{
    if (m_pPushFile)
        m_pPushFile->uploadFile(info);
}

void ZQResHandler::stopUploadFile()
{
    if (m_pPushFile)
        m_pPushFile->stopUploadFile();
}

void ZQResHandler::stopUploadFile(QString localPath, QString remotePath, QString bucketName)
{
    if (m_pPushFile)
        m_pPushFile->stopUploadFile(localPath, remotePath, bucketName);
}

void ZQResHandler::cancelUploadingFile(QString localPath, QString remotePath, QString bucketName)
{
    if (m_pPushFile)
        m_pPushFile->cancelUploadingFile(localPath, remotePath, bucketName);
}

void ZQResHandler::uploadFileByList(QJsonArray fileList)
{
    if (m_pPushFile)
        m_pPushFile->uploadFileByList(fileList);
}

void ZQResHandler::uploadFileByList(const QVector<QVariant> &vector)
{
    if (m_pPushFile)
        m_pPushFile->uploadFileByList(vector);
}

void ZQResHandler::stopUploadFileList()
{
    if (m_pPushFile)
        m_pPushFile->stopUploadFileList();
}

bool ZQResHandler::isUploadThreadsRunning()
{
    return m_pPushFile ? m_pPushFile->isUploadThreadsRunning() : false;
}

void ZQResHandler::downlodAvatarPixmap(QString url)
{
    if (m_pFetchFile)
        m_pFetchFile->downlodAvatarPixmap(url);
}

QString ZQResHandler::getCosFileUrlBySdk(QString bucketName, QString remotePath)
{
    // The upload plug-in serves the SDK form as source type "2".
    return m_pPushFile ? m_pPushFile->getCosFileUrl(bucketName, remotePath, QStringLiteral("2")) : QString();
}

QString ZQResHandler::getCosFileUrl(QString bucketName, QString remotePath, QString sourceType)
{
    return m_pPushFile ? m_pPushFile->getCosFileUrl(bucketName, remotePath, sourceType) : QString();
}

QJsonObject ZQResHandler::getCosFileInfo(QString bucketName, QString remotePath, QString sourceType,
                                         QString bc_bcode)
{
    return m_pPushFile ? m_pPushFile->getCosFileInfo(bucketName, remotePath, sourceType, bc_bcode) : QJsonObject();
}

QJsonObject ZQResHandler::getCosFileInfoBySdk(QString bucketName, QString remotePath, QString bc_bcode)
{
    return m_pPushFile ? m_pPushFile->getCosFileInfoBySdk(bucketName, remotePath, bc_bcode) : QJsonObject();
}

int ZQResHandler::advanceUploadFile(QString bucketName, QString localPath, QString remotePath, bool replace)
{
    return m_pPushFile ? m_pPushFile->advanceUploadFile(bucketName, localPath, remotePath, replace) : -1;
}

double ZQResHandler::getAdvanceUploadProgress()
{
    return m_pPushFile ? m_pPushFile->getAdvanceUploadProgress() : 0;
}

int ZQResHandler::getcosFileStatus(QString bucketName, QString remotepath, QString sourceType)
{
    return m_pPushFile ? m_pPushFile->getcosFileStatus(bucketName, remotepath, sourceType) : -1;
}

int ZQResHandler::deleteCosFile(QString bucketName, QString remotepath)
{
    return m_pPushFile ? m_pPushFile->deleteCosFile(bucketName, remotepath) : -1;
}

void ZQResHandler::limitDownloadSpeed(bool limit, int speed)
{
    if (m_pFetchFile)
        m_pFetchFile->limitDownloadSpeed(limit, speed);
}

QJsonObject ZQResHandler::getFileInfoByHttpHead(QString url)
{
    return m_pFetchFile ? m_pFetchFile->getFileInfoByHttpHead(url) : QJsonObject();
}

void ZQResHandler::uploadFileByPost(QJsonObject info)
{
    if (m_pPushFile)
        m_pPushFile->uploadFileByPost(info);
}

void ZQResHandler::stopUploadFileByPost(QJsonObject info)
{
    if (m_pPushFile)
        m_pPushFile->stopUploadFileByPost(info);
}

void ZQResHandler::uploadOssFile(QJsonObject info)
{
    if (m_pPushFile)
        m_pPushFile->uploadOssFile(info);
}
