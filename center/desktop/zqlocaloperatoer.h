#ifndef ZQLOCALOPERATOER_H
#define ZQLOCALOPERATOER_H

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

class QThread;
class toolBox;
class ZQWatchManager;

// Carries out what a message asks of the PC itself: starting or raising the
// suite's applications from the "apps.ini" registry, desktop keys, the
// calculator, the toolbox and hint dialog, and a few fixed board frames.
//
// Its slots never wait: process checks and the question which application
// is in front run on a thread of its own, one at a time, and what they
// decide is carried out back on the operator's thread.
class ZQLocalOperatoer : public QObject
{
    Q_OBJECT
public:
    explicit ZQLocalOperatoer(QObject *parent = nullptr);
    ~ZQLocalOperatoer() override;

    // Sends the four start-up frames.
    void init();

    void runAppByEventID(const QString &eventId);
    void runApp(const QString &path, const QString &name);
    void openAppInUos(const QJsonObject &obj);
    QString getIntallPath(QString appPath, bool &isUos);

    // Fixed frames and the frames built from the registry.
    static QByteArray startupFrame(int which); // 0..3, in sending order
    QByteArray getVelaPyeInstallInfo() const;
    QByteArray getVelaPyeInstallInfo2020() const;

    bool hasDisc() const;
    bool isBusinessMonitors() const;

    // Where the suite's applications are installed ("/opt/apps/") and the
    // registry file (apps.ini beside the program). Tests point these at a
    // temporary folder; the program never changes them.
    static void setAppsRoot(const QString &root);
    static QString appsRoot();
    static void setRegistryFile(const QString &file);
    static QString registryFile();

signals:
    void sigSendMessage(QString msg);
    void sigSendCommand(QByteArray cmd);
    void sigVersionChange(int version);

public slots:
    void slotLocalOperation(QString id);
    void slotShowDialog(int position, double x, double y);
    void slotShowToolBox(int position, double x, double y);
    void slotZoom(bool);
    void slotClock(bool);
    void slotLite(bool);
    void slotCap(bool);

private:
    using Action = std::function<void()>;
    // Runs `check` on the check thread, then the action it returns (if any)
    // on the operator's thread. Checks run one after the other, in the order
    // asked. A request of a non-empty `kind` that arrives while another of
    // that kind waits or runs is dropped: it would start the same program
    // a second time.
    void checkThenAct(const QString &kind, const std::function<Action()> &check);
    // Starts the registry entry of that application name, by its start path.
    void startNamed(const QString &name);
    void startEntry(const QString &name);
    bool overlayShown() const;
    void runWhiteboard();
    void runVisualizer();
    void runBridge();
    void runScreenAnnotation();
    void runSmartScreen();
    void runCalculator();
    void exitPPT();
    void closeTopWindowIfIdle();
    void runToolAndHideBox(const QString &id);
    static bool programRuns(const QString &name);

    bool m_hasDisc = false;
    bool m_businessMonitors = false;
    ZQWatchManager *m_watchManager = nullptr;
    toolBox *m_toolBox = nullptr;
    QMap<QString, QString> m_eventNames; // eventID -> enName
    QMap<QString, QString> m_appPaths;   // enName -> appPath
    QMap<QString, char> m_appNumbers;    // enName -> appID (low 8 bits)
    QStringList m_guardedEvents;
    QStringList m_appNames;
    QThread *m_checkThread = nullptr;
    QObject *m_checker = nullptr;  // lives on the check thread
    QSet<QString> m_busy;          // kinds of the checks waiting or running
};

#endif // ZQLOCALOPERATOER_H
