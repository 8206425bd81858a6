#include "zqlocaloperatoer.h"

#include "cuntility.h"
#include "cwincheckapp.h"
#include "czqsharedkit.h"
#include "desktoplogging.h"
#include "messagedialog.h"
#include "resolutioncontrol.h"
#include "toolbox.h"
#include "zqboardframe.h"
#include "zqwatchmanager.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

namespace {

const char kRegistryGroup[] = "UOSAppInfo";
const char kNotInstalled[] = "应用未安装";
const char kNotInThisMode[] = "该模式下此功能不可用";
const char kCalculatorLibDir[] = "/usr/lib/x86_64-linux-gnu";

QString &appsRootRef()
{
    static QString root = QStringLiteral("/opt/apps/");
    return root;
}

QString &registryFileRef()
{
    static QString file;
    return file;
}

QByteArray frameFromHex(const char *hex)
{
    return QByteArray::fromHex(hex);
}

// A search path with `dir` in front. An unset or empty path gets no empty
// element after it: an empty element means the current directory.
QString withDirInFront(const QString &dir, const QString &path)
{
    return path.isEmpty() ? dir : dir + QLatin1Char(':') + path;
}


} // namespace

ZQLocalOperatoer::ZQLocalOperatoer(QObject *parent) : QObject(parent)
{
    m_checkThread = new QThread;
    m_checkThread->setObjectName(QStringLiteral("local operator checks"));
    m_checker = new QObject;
    m_checker->moveToThread(m_checkThread);
    connect(m_checkThread, &QThread::finished, m_checker, &QObject::deleteLater);
    m_checkThread->start();

    m_watchManager = new ZQWatchManager(nullptr);
    m_toolBox = toolBox::getInstance();
    if (m_toolBox) {
        connect(m_toolBox, &toolBox::sigCap, this, &ZQLocalOperatoer::slotCap);
        connect(m_toolBox, &toolBox::sigLite, this, &ZQLocalOperatoer::slotLite);
        connect(m_toolBox, &toolBox::sigZoom, this, &ZQLocalOperatoer::slotZoom);
        connect(m_toolBox, &toolBox::sigClock, this, &ZQLocalOperatoer::slotClock);
    }

    const QJsonArray entries =
        CUntility::getIniValuesByGroup(registryFile(), QLatin1String(kRegistryGroup));
    for (const QJsonValue &value : entries) {
        const QJsonObject entry = value.toObject();
        const QString eventId = entry.value(QStringLiteral("eventID")).toString();
        const QString enName = entry.value(QStringLiteral("enName")).toString();
        const QString appPath = entry.value(QStringLiteral("appPath")).toString();
        const int appId = entry.value(QStringLiteral("appID")).toInt();
        const QString idString = entry.value(QStringLiteral("idString")).toString();
        qCDebug(lcLocalOperator) << "init apps" << eventId << enName << appPath << appId;
        if (idString != QLatin1String("ID_NULL"))
            m_guardedEvents.append(idString);
        m_appNames.append(enName);
        m_eventNames.insert(eventId, enName);
        m_appPaths.insert(enName, appPath);
        m_appNumbers.insert(enName, char(appId & 0xFF));
    }
}

ZQLocalOperatoer::~ZQLocalOperatoer()
{
    // A check still running ends first; what it would have done is dropped.
    m_checkThread->quit();
    m_checkThread->wait();
    delete m_checkThread;
    delete m_watchManager;
}

void ZQLocalOperatoer::setAppsRoot(const QString &root)
{
    appsRootRef() = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
}

QString ZQLocalOperatoer::appsRoot()
{
    return appsRootRef();
}

void ZQLocalOperatoer::setRegistryFile(const QString &file)
{
    registryFileRef() = file;
}

QString ZQLocalOperatoer::registryFile()
{
    if (!registryFileRef().isEmpty())
        return registryFileRef();
    return QCoreApplication::applicationDirPath() + QStringLiteral("/apps.ini");
}

bool ZQLocalOperatoer::hasDisc() const
{
    return m_hasDisc;
}

bool ZQLocalOperatoer::isBusinessMonitors() const
{
    return m_businessMonitors;
}

QByteArray ZQLocalOperatoer::startupFrame(int which)
{
    switch (which) {
    case 0: return ZQBoardFrame::build({0x0F, 0x01});
    case 1: return ZQBoardFrame::build({0x01, 0x31});
    case 3: return ZQBoardFrame::build({0x01, 0x8A});
    default: return QByteArray();
    }
}

void ZQLocalOperatoer::init()
{
    emit sigSendCommand(startupFrame(0));
    emit sigSendCommand(startupFrame(1));
    emit sigSendCommand(getVelaPyeInstallInfo());
    emit sigSendCommand(startupFrame(3));
}

QByteArray ZQLocalOperatoer::getVelaPyeInstallInfo() const
{
    QByteArray command = frameFromHex("F216");
    const QStringList names = {QStringLiteral("VelaTouchPro"), QStringLiteral("VelaCamera"),
                               QStringLiteral("VelaBridge"), QStringLiteral("VelaRemoteClassRoom"),
                               QStringLiteral("LessonRaterPro"), QStringLiteral("tarn")};
    for (const QString &name : names) {
        QString path;
        bool found = false;
        if (name == QLatin1String("LessonRaterPro"))
            found = CUntility::readLessonRaterPro(path, name, name + QStringLiteral(".exe"));
        else if (name == QLatin1String("VelaRemoteClassRoom"))
            found = CUntility::readVelarClass(path, QStringLiteral("VelarClass.exe"),
                                              QStringLiteral("VelarClass"));
        else
            found = CUntility::readApplicationPath(path, name, name + QStringLiteral(".exe"));
        command.append(char(found ? 1 : 0));
    }
    return ZQBoardFrame::build(command);
}

QByteArray ZQLocalOperatoer::getVelaPyeInstallInfo2020() const
{
    QByteArray command = frameFromHex("F320");
    for (const QString &name : m_appNames) {
        bool isUos = false;
        const QString dir =
            const_cast<ZQLocalOperatoer *>(this)->getIntallPath(m_appPaths.value(name), isUos);
        if (!dir.isEmpty())
            command.append(m_appNumbers.value(name, char(0)));
    }
    return ZQBoardFrame::build(command);
}

QString ZQLocalOperatoer::getIntallPath(QString appPath, bool &isUos)
{
    isUos = true;
    appPath.remove(QStringLiteral("Tavolix\\"));
    const QJsonObject entry =
        CUntility::getIniValuesByGroup(registryFile(), QLatin1String(kRegistryGroup), appPath);
    return appsRoot() + entry.value(QStringLiteral("appPath")).toString();
}

bool ZQLocalOperatoer::programRuns(const QString &name)
{
    return CZqSharedKit::getInstence()->checkProgramRun(name) > 0;
}

void ZQLocalOperatoer::checkThenAct(const QString &kind, const std::function<Action()> &check)
{
    if (!kind.isEmpty()) {
        if (m_busy.contains(kind)) {
            qCDebug(lcLocalOperator) << kind << "is on its way already; request dropped";
            return;
        }
        m_busy.insert(kind);
    }
    QMetaObject::invokeMethod(m_checker, [this, kind, check]() {
        const Action act = check();
        QMetaObject::invokeMethod(this, [this, kind, act]() {
            if (act)
                act();
            m_busy.remove(kind);
        }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

void ZQLocalOperatoer::startEntry(const QString &name)
{
    const QString appPath = m_appPaths.value(name);
    bool isUos = false;
    const QString dir = getIntallPath(appPath, isUos);
    runApp(dir + appPath, name);
}

void ZQLocalOperatoer::startNamed(const QString &name)
{
    bool isUos = false;
    runApp(getIntallPath(QStringLiteral("Tavolix\\") + name, isUos), name);
}

void ZQLocalOperatoer::runAppByEventID(const QString &eventId)
{
    const QString name = m_eventNames.value(eventId);
    const bool guarded = m_guardedEvents.contains(eventId);
    qCDebug(lcLocalOperator) << "rbd-----" << name << eventId;
    // Only guarded entries need the (slow) process check.
    if (!guarded) {
        startEntry(name);
        return;
    }
    checkThenAct(QStringLiteral("start ") + eventId, [this, name]() -> Action {
        if (programRuns(name + QStringLiteral(".exe")))
            return nullptr;
        return [this, name]() { startEntry(name); };
    });
}

void ZQLocalOperatoer::runApp(const QString &path, const QString &name)
{
    qCDebug(lcLocalOperator) << "runapp" << path << name;
    if (!QFileInfo(path).isFile()) {
        if (MessageDialog *dialog = MessageDialog::getMessage()) {
            const QPoint center = resolutionControl::getScreenCenter();
            dialog->showDialog(QString::fromUtf8(kNotInstalled), center.x(), center.y());
        }
        return;
    }
    QJsonObject obj;
    obj.insert(QStringLiteral("appPath"), path);
    openAppInUos(obj);
}

void ZQLocalOperatoer::openAppInUos(const QJsonObject &obj)
{
    qCDebug(lcLocalOperator) << "ZQLocalOperatoer::openAppInUos";
    const QString path = obj.value(QStringLiteral("appPath")).toString();
    if (!QProcess::startDetached(path, QStringList()))
        qCDebug(lcLocalOperator) << "start failed" << path;
}

void ZQLocalOperatoer::exitPPT()
{
    QJsonObject obj;
    obj.insert(QStringLiteral("eventid"), QStringLiteral("ID_APP_EXIT"));
    obj.insert(QStringLiteral("to"), QStringLiteral("ID_APP_ASSISTANT_PLUGIN"));
    obj.insert(QStringLiteral("from"), QStringLiteral("ID_APP_VELACENTER"));
    emit sigSendMessage(QString::fromUtf8(QJsonDocument(obj).toJson()));
}

void ZQLocalOperatoer::runWhiteboard()
{
    checkThenAct(QStringLiteral("whiteboard"), [this]() -> Action {
        if (!programRuns(QStringLiteral("VelaTouchPro.exe")))
            return [this]() { startNamed(QStringLiteral("VelaTouchPro")); };
        const QString top = CZqSharedKit::getInstence()->getTopApp();
        if (top == QLatin1String("ID_APP_VELATOUCHPRO"))
            return nullptr;
        return [top]() {
            CZqSharedKit *kit = CZqSharedKit::getInstence();
            if (top == QLatin1String("ID_APP_VELAANNOTATION"))
                kit->closeWindow(QStringLiteral("ID_APP_VELAANNOTATION"));
            kit->ShowActiovApp(QStringLiteral("ID_APP_VELATOUCHPRO"));
        };
    });
}

void ZQLocalOperatoer::runVisualizer()
{
    checkThenAct(QStringLiteral("visualizer"), [this]() -> Action {
        if (CZqSharedKit::getInstence()->getTopApp() == QLatin1String("ID_APP_VELACAMERA"))
            return nullptr;
        const bool cameraRuns = programRuns(QStringLiteral("VelaCamera.exe"));
        const bool annotationRuns = programRuns(QStringLiteral("VelaAnnotation.exe"));
        return [this, cameraRuns, annotationRuns]() {
            CZqSharedKit *kit = CZqSharedKit::getInstence();
            if (annotationRuns)
                kit->closeWindow(QStringLiteral("ID_APP_VELAANNOTATION"));
            exitPPT();
            if (cameraRuns)
                kit->ShowActiovApp(QStringLiteral("ID_APP_VELACAMERA"));
            else
                startNamed(QStringLiteral("VelaCamera"));
        };
    });
}

void ZQLocalOperatoer::runBridge()
{
    checkThenAct(QStringLiteral("bridge"), [this]() -> Action {
        if (programRuns(QStringLiteral("VelaBridge.exe")))
            return []() { CZqSharedKit::getInstence()->ShowActiovApp(QStringLiteral("ID_APP_VELABRIDGE")); };
        return [this]() { startNamed(QStringLiteral("VelaBridge")); };
    });
}

void ZQLocalOperatoer::runScreenAnnotation()
{
    qCDebug(lcLocalOperator) << "ZQLocalOperatoer::runScreenAnnotation";
    // The annotation program runs as "VelaAnnotation.exe", the name the
    // process check can find (as for the question which program is in front).
    checkThenAct(QStringLiteral("annotation"), [this]() -> Action {
        if (programRuns(QStringLiteral("VelaAnnotation.exe")))
            return nullptr;
        return [this]() {
            bool isUos = false;
            QString path = getIntallPath(QStringLiteral("Tavolix\\VelaTouchPro"), isUos);
            QString candidate = path;
            candidate.replace(QStringLiteral("VelaTouchPro.sh"), QStringLiteral("VelaAnnotation.sh"));
            if (QFileInfo::exists(candidate))
                path = candidate;
            runApp(path, QStringLiteral("VelaAnnotation"));
        };
    });
}

void ZQLocalOperatoer::runSmartScreen()
{
    checkThenAct(QStringLiteral("smart screen"), [this]() -> Action {
        if (programRuns(QStringLiteral("VelaSmartScreenPro.exe")))
            return nullptr;
        return [this]() { startNamed(QStringLiteral("VelaSmartScreenPro")); };
    });
}

void ZQLocalOperatoer::runCalculator()
{
    // The calculator needs the system library folder first in both paths. The
    // child gets its own environment: changing ours would race with the
    // other threads and could leave the centre's paths altered.
    const QString dir = QLatin1String(kCalculatorLibDir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString path = env.value(QStringLiteral("PATH"));
    if (!path.startsWith(dir + QLatin1Char(':'))) {
        env.insert(QStringLiteral("PATH"), withDirInFront(dir, path));
        env.insert(QStringLiteral("LD_LIBRARY_PATH"),
                   withDirInFront(dir, env.value(QStringLiteral("LD_LIBRARY_PATH"))));
    }
    QProcess process;
    process.setProgram(QStringLiteral("kylin-calculator"));
    process.setProcessEnvironment(env);
    if (!process.startDetached())
        qCDebug(lcLocalOperator) << "start failed kylin-calculator";
}

bool ZQLocalOperatoer::overlayShown() const
{
    MessageDialog *dialog = MessageDialog::getMessage();
    return (m_toolBox && !m_toolBox->isHidden()) || (dialog && !dialog->isHidden());
}

void ZQLocalOperatoer::closeTopWindowIfIdle()
{
    // Alt+F4 would close the toolbox, the hint or the screenshot tool
    // instead of the window the user works in.
    if (overlayShown())
        return;
    checkThenAct(QString(), [this]() -> Action {
        if (programRuns(QStringLiteral("screenCapture.exe")))
            return nullptr;
        return [this]() {
            if (!overlayShown())
                CWinCheckApp::instance()->closeWindow();
        };
    });
}

void ZQLocalOperatoer::slotLocalOperation(QString id)
{
    qCDebug(lcLocalOperator) << "ZQLocalOperatoer::slotLocalOperation" << id;
    const auto is = [&id](std::initializer_list<const char *> names) {
        for (const char *name : names) {
            if (id == QLatin1String(name))
                return true;
        }
        return false;
    };

    if (is({"ID_ITEM_WHITEBOARD", "ID_VELATOUCHPRO"})) {
        runWhiteboard();
    } else if (is({"ID_APP_EXIT"})) {
        emit sigSendCommand(ZQBoardFrame::build({0xF2, 0x10, 0x04, 0xFF}));
        emit sigSendCommand(ZQBoardFrame::build({0x13, 0x01}));
    } else if (is({"CHECK_VELA_APP"})) {
        emit sigSendCommand(getVelaPyeInstallInfo2020());
    } else if (is({"ID_ITEM_STROKE_CHALK", "VELAANNOTATION"})) {
        runScreenAnnotation();
    } else if (is({"ID_ITEM_VISUALIZER", "ID_VELACAMERA"})) {
        runVisualizer();
    } else if (is({"DISC_HEART"})) {
        emit sigSendCommand(ZQBoardFrame::build({0x0F, 0x06, 0x01}));
    } else if (is({"DISC_VERSION"})) {
        emit sigSendCommand(ZQBoardFrame::build({0x0F, 0x08, 0x01}));
        emit sigVersionChange(2);
    } else if (is({"ID_TOOL_VELABRIDGE", "ID_VELABRIDGE"})) {
        runBridge();
    } else if (is({"ID_SYSTEM_SETUP_K1", "ID_TOOL_SPOTLIGHT", "IDR_SLIDE_NEW", "ID_SLIDE_NEW_WHITE"})) {
        runWhiteboard();
    } else if (is({"ID_ZQ_FILE_SAVE", "ID_ZQ_FILE_SAVEAS"})) {
        runAppByEventID(QStringLiteral("ID_SCREEN_CAPCHER"));
    } else if (is({"ID_SLIDE_NEW_TRANSPARENT", "ID_ITEM_STROKE_SMOOTH", "ID_NEW_ANNOTATE"})) {
        emit sigSendCommand(ZQBoardFrame::build({0xF2, 0x10, 0x03, 0xFF}));
        runScreenAnnotation();
    } else if (is({"ID_UISTATE_DESKTOP_RETURN"})) {
        CWinCheckApp::instance()->DealDesktop();
    } else if (is({"ID_HAS_DISC"})) {
        m_hasDisc = true;
    } else if (is({"ID_IS_BUSINESS_MONITORS"})) {
        m_businessMonitors = true;
    } else if (is({"ID_ALL_TESK", "ID_ZQ_Multitask"})) {
        CWinCheckApp::instance()->DealWinCtrlAndTab();
    } else if (is({"ID_KEYBOARD"})) {
        m_watchManager->checkVirtualKeyBoard(nullptr, nullptr);
    } else if (is({"ID_CALCULATOR"})) {
        runCalculator();
    } else if (is({"ID_DISC_CLOSE"})) {
        // The board closes the disc itself; nothing to do on the PC.
    } else if (is({"ID_ZQ_FILE_CLOSE"})) {
        closeTopWindowIfIdle();
    } else if (is({"ID_SLIDE_PRE"})) {
        CWinCheckApp::instance()->pageUp();
    } else if (is({"ID_SLIDE_NEXT"})) {
        CWinCheckApp::instance()->pageDown();
    } else if (is({"ID_GET_OPS_VELA_APP"})) {
        emit sigSendCommand(getVelaPyeInstallInfo2020());
    } else if (is({"ID_APP_VELASMARTSCREEN"})) {
        runSmartScreen();
    } else if (is({"ID_SPORT_LITE"})) {
        runAppByEventID(QStringLiteral("ID_SPORT_LIGHT"));
    } else {
        runAppByEventID(id);
    }
}

void ZQLocalOperatoer::slotShowDialog(int position, double x, double y)
{
    MessageDialog *dialog = MessageDialog::getMessage();
    if (!dialog)
        return;
    if (position < 0 || position > 2)
        return;
    // Placed by the size it has with this text (the first toast would
    // otherwise be placed by the size of an empty window).
    dialog->fitText(QString::fromUtf8(kNotInThisMode));
    switch (position) {
    case 0: dialog->showAt(x + 6, y); break;
    case 1: dialog->showAt(x - dialog->width() - 6, y); break;
    default: dialog->showAt(x, y - dialog->height()); break;
    }
}

void ZQLocalOperatoer::slotShowToolBox(int position, double x, double y)
{
    if (!m_toolBox)
        return;
    const double s = resolutionControl::getScale();
    switch (position) {
    case 0: m_toolBox->showDialog(68 * s, 788 * s, 0); break;
    case 1: m_toolBox->showDialog(1718 * s, 788 * s, 1); break;
    case 2: m_toolBox->showDialog(x, y - m_toolBox->height(), 2); break;
    default: break;
    }
    qCDebug(lcLocalOperator) << "toolbox" << position << x << y << m_toolBox->size();
}

void ZQLocalOperatoer::runToolAndHideBox(const QString &id)
{
    slotLocalOperation(id);
    if (m_toolBox)
        m_toolBox->hide();
}

void ZQLocalOperatoer::slotZoom(bool)
{
    runToolAndHideBox(QStringLiteral("ID_ZOOM"));
}

void ZQLocalOperatoer::slotClock(bool)
{
    runToolAndHideBox(QStringLiteral("ID_CLOCK"));
}

void ZQLocalOperatoer::slotLite(bool)
{
    runToolAndHideBox(QStringLiteral("ID_SPORT_LITE"));
}

void ZQLocalOperatoer::slotCap(bool)
{
    runToolAndHideBox(QStringLiteral("ID_SCREEN_CAPCHER"));
}
