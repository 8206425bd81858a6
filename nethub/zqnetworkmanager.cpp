#include "zqnetworkmanager.h"

#include "izqapprenew.h"
#include "izqfarnetmanager.h"
#include "izqossskyvaultmanager.h"
#include "izqreshandler.h"
#include "izqskybasis.h"
#include "izqskyprofile.h"
#include "izqskyvaultmanager.h"
#include "izqusertrailmanager.h"
#include "nethublogging.h"
#include "zqcloudutils.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QNetworkProxy>
#include <QPluginLoader>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTranslator>

namespace {

// Properties are published on the application object so that every plug-in
// can read them; without one there is nowhere to publish.
void publish(const char *name, const QVariant &value)
{
    if (qApp)
        qApp->setProperty(name, value);
}

QString pluginPath(const QString &fileName)
{
    QString dir = qApp ? qApp->property("workDir").toString() : QString();
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    return dir + QLatin1Char('/') + fileName;
}

// Loads the plug-in file into `slot` while it is null; null with the log
// line when the file cannot be loaded or implements another interface (the
// interface cast refuses it; nothing is cast blindly).
template <typename Interface>
Interface *loadOnce(Interface *&slot, const char *fileName, const char *logPrefix)
{
    if (slot)
        return slot;
    QPluginLoader loader(pluginPath(QLatin1String(fileName)));
    QObject *root = loader.instance();
    slot = qobject_cast<Interface *>(root);
    if (!slot) {
        const QString why = root ? QStringLiteral("%1 is not a %2 plug-in")
                                       .arg(loader.fileName(), QLatin1String(qobject_interface_iid<Interface *>()))
                                 : loader.errorString();
        qCDebug(lcNetHub).noquote() << QLatin1String(logPrefix) + why;
    }
    return slot;
}

} // namespace

ZQNetWorkManager::ZQNetWorkManager(QObject *parent)
    : QObject(parent)
    , pTranslator(new QTranslator(this))
{
    initNetHub();
    checkHardWareEnv();
}

QObject *ZQNetWorkManager::getObject()
{
    return this;
}

IZQFarNetManager *ZQNetWorkManager::getFarNetManager()
{
    return loadOnce(m_farNetWorkManager, "farNet.so", "farNet.dll.");
}

IZQSkyBasis *ZQNetWorkManager::getSkyBasis()
{
    return loadOnce(m_skyBasis, "skyBasis.so", "skyBasis.dll.");
}

IZQResHandler *ZQNetWorkManager::getResHandler()
{
    return loadOnce(m_resHandler, "resHandler.so", "resHandler.dll.");
}

IZQUserTrailManager *ZQNetWorkManager::getUserTrailManager()
{
    return loadOnce(m_userTrailManager, "libuserTrail.so", "userTrail.dll.");
}

IZQSkyProfile *ZQNetWorkManager::getSkyProfile()
{
    return loadOnce(m_skyProfile, "skyProfile.so", "skyProfile.dll.");
}

IZQAppRenew *ZQNetWorkManager::getAppRenew()
{
    return loadOnce(m_appRenew, "appRenew.so", "appRenew.dll.");
}

IZQSkyvaultManager *ZQNetWorkManager::getSkyvaultManager()
{
    return loadOnce(m_skyVaultManager, "skyvault.so", "skyvault.dll.");
}

IZQOssSkyvaultManager *ZQNetWorkManager::getOssSkyvaultManager()
{
    return loadOnce(m_ossSkyvaultManager, "skyossvault.so", "skyossvault.dll.");
}

void ZQNetWorkManager::switchQM(const QString &language)
{
    QString catalogue = QStringLiteral(":/translations/NetHub_zh_CN.qm");
    if (language.compare(QLatin1String("en_US"), Qt::CaseInsensitive) == 0)
        catalogue = QStringLiteral(":/translations/NetHub_en_US.qm");
    else if (language.compare(QLatin1String("mn"), Qt::CaseInsensitive) == 0)
        catalogue = QStringLiteral(":/translations/NetHub_mn.qm");

    // Installing adds to the application's list even when the translator is
    // already in it; take it out first so each switch leaves it in once.
    QCoreApplication::removeTranslator(pTranslator);
    if (pTranslator->load(catalogue))
        QCoreApplication::installTranslator(pTranslator);
    publish("language", language);
}

void ZQNetWorkManager::setWorkDir(const QString &path)
{
    m_workDir = path;
    m_workDir.replace(QLatin1Char('\\'), QLatin1Char('/'));
    publish("workDir", m_workDir);
    QCoreApplication::addLibraryPath(m_workDir);
}

void ZQNetWorkManager::initNetHub()
{
    initTempDir();
    initKeyValueFromIni();
}

void ZQNetWorkManager::initTempDir()
{
    const QStringList documents = QStandardPaths::standardLocations(QStandardPaths::DocumentsLocation);
    const QString dir = documents.value(0) + QStringLiteral("/Tavolix/NetHub");
    if (!QDir(dir).exists())
        QDir().mkpath(dir);
    publish("netHubDir", dir);
}

void ZQNetWorkManager::initKeyValueFromIni()
{
    const QString ini = ZQCloudUtils::versionIniPath();
    const char *const keys[][2] = {
        {"cloudHost", "/versionInformation/cloudHost"},
        {"cloudPavoHost", "/versionInformation/cloudPavoHost"},
        {"logincodeUrl", "/UrlInformation/logincodeUrl"},
    };
    for (const auto &key : keys)
        publish(key[0], ZQCloudUtils::getConfigFromIni(ini, QLatin1String(key[1])));
}

void ZQNetWorkManager::checkHardWareEnv()
{
    const QJsonArray adapters = ZQCloudUtils::getAdaptersInfo();
    const QString system = QSysInfo::productType() + QLatin1Char(' ') + QSysInfo::productVersion();
    if (system.contains(QLatin1String("windows 7")))
        QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    for (const QJsonValue &adapter : adapters) {
        const QString description = adapter.toObject().value(QStringLiteral("adapterDescription")).toString();
        if (description.contains(QLatin1String("Realtek USB FE Family Controller"))
            || description.contains(QLatin1String("Remote NDIS based Internet Sharing Device")))
            publish("usbCard", true);
    }
}
