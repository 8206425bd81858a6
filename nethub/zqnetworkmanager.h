#ifndef ZQNETWORKMANAGER_H
#define ZQNETWORKMANAGER_H

#include "izqnetworkmanager.h"

#include <QObject>
#include <QString>
#include <QVariant>

class QTranslator;

// Loads the cloud plug-ins lazily, publishes the settings the plug-ins read
// as properties of the application object ("workDir", "netHubDir",
// "cloudHost", "cloudPavoHost", "logincodeUrl", "language", "usbCard") and
// switches the language of the plug-ins' texts.
class ZQNetWorkManager : public QObject, public IZQNetWorkManager
{
    Q_OBJECT
public:
    explicit ZQNetWorkManager(QObject *parent = nullptr);

    QObject *getObject() override;
    IZQFarNetManager *getFarNetManager() override;
    IZQSkyBasis *getSkyBasis() override;
    IZQResHandler *getResHandler() override;
    IZQUserTrailManager *getUserTrailManager() override;
    IZQSkyProfile *getSkyProfile() override;
    IZQAppRenew *getAppRenew() override;
    IZQSkyvaultManager *getSkyvaultManager() override;
    IZQOssSkyvaultManager *getOssSkyvaultManager() override;
    void switchQM(const QString &language) override;
    void setWorkDir(const QString &path) override;

signals:
    // For the plug-ins' use; the manager itself raises none.
    void sigStateChanged(QString name, QVariant oldValue, QVariant newValue);
    void sigLoginStateChanged(bool loggedIn);
    void sigDownloadResult(bool ok, bool finished);
    void sigUploadResult(bool ok);
    void sigCreatePlanResult(bool ok);
    void sigUpdatePlanResult(bool ok);

private:
    void initNetHub();
    void initTempDir();
    void initKeyValueFromIni();
    void checkHardWareEnv();

    IZQSkyBasis *m_skyBasis = nullptr;
    IZQFarNetManager *m_farNetWorkManager = nullptr;
    IZQResHandler *m_resHandler = nullptr;
    IZQUserTrailManager *m_userTrailManager = nullptr;
    IZQSkyProfile *m_skyProfile = nullptr;
    IZQAppRenew *m_appRenew = nullptr;
    IZQSkyvaultManager *m_skyVaultManager = nullptr;
    IZQOssSkyvaultManager *m_ossSkyvaultManager = nullptr;
    QTranslator *pTranslator = nullptr;
    QString m_workDir;
};

#endif
