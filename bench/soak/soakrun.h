#ifndef SOAKRUN_H
#define SOAKRUN_H

#include "processsampler.h"
#include "soaksequence.h"

#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <memory>

class VelaCenterRig;
class XvfbServer;
class StrokeAccAgentProcess;
class ZQIPC;

// One soak of velacenter: the centre with the simulated board and bus
// clients under a steady mixed load for a given time, the board's port
// vanishing now and then, clients coming and going; the centre's memory,
// descriptors, threads and processor time sampled all along. run() prints
// the figures and returns the exit status.
class SoakRun : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        int seconds = 300;      // load, warm-up included
        int warmupSeconds = 60; // at least one round of every churn
        int sampleMs = 3000;
        int churnEverySeconds = 12; // one churn event this often
        int idleSeconds = 60;
        bool realAgent = false; // VelaStrokeAccelerate instead of a stand-in
    };

    explicit SoakRun(const Options &options);
    ~SoakRun() override;

    int run();

private:
    enum Stream {
        UpPass,
        UpLong,
        UpWifi,
        UpBrightness,
        UpPenColour,
        UpTunnel,
        UpPenAttributes,
        Stroke,
        Hardware,
        DownPass,
        DownLong,
        DownBrightness,
        DownTunnel,
        DownVisitor,
        Control,
        Visits,
        StreamCount
    };
    enum class Churn { Visitors, Agent, Hardware, BoardLoss };
    enum class Phase { Load, Drain, Idle, Done };
    struct Visitor;
    struct ChurnCheck
    {
        QString what;
        qint64 atMs = 0;
        bool back = false;
        qint64 tookMs = 0;
        int fds = 0, threads = 0;
    };

    void tick();
    qint64 now() const { return m_clock.elapsed(); }

    // Load
    void writeUp(qint64 t);
    QString nextFillerLine(qint64 t);
    void sendDown(qint64 t);
    bool sendToCentre(ZQIPC *client, const QString &text);
    void readBoard(qint64 t);
    void readBus(qint64 t);
    void onBoardFrame(const QByteArray &frame, qint64 t);
    void onCentreMessage(const QString &text, qint64 t);
    void joinDownPart(const QByteArray &frame, qint64 t);

    // Churn
    void churnStep(qint64 t);
    void startChurn(Churn kind, qint64 t);
    bool churnRunning(qint64 t); // false once the event is over
    void startSettle(const QString &what, qint64 t);
    bool settleStep(qint64 t);
    void visitorsArrive(qint64 t);
    void visitorsStep(qint64 t);
    void visitorsLeave(qint64 t);
    void sendVisitorCommand(qint64 t);
    void dropVisitors();
    bool startAgent();
    void stopAgent();
    void answerAsAgent(ZQIPC *agent, const QString &text);
    ZQIPC *joinBus(const QString &id, bool subscribe);

    // Figures
    void sample(qint64 t);
    bool takeSample(ProcessSampler::Sample *s);
    void printReport();

    Options m_options;
    std::unique_ptr<VelaCenterRig> m_rig;
    std::unique_ptr<ProcessSampler> m_sampler;
    std::unique_ptr<XvfbServer> m_xvfb;
    std::unique_ptr<StrokeAccAgentProcess> m_agentProcess;
    ZQIPC *m_standIn = nullptr;
    ZQIPC *m_smartScreen = nullptr;
    ZQIPC *m_bridge = nullptr;
    ZQIPC *m_control = nullptr;
    ZQIPC *m_whiteboard = nullptr;
    int m_frontQuestions = 0;
    QVector<int> m_fanOut; // up pass-through frames heard by each steady subscriber
    QList<Visitor *> m_visitors;
    QProcess m_listener; // a visitor in a process of its own, killed when it leaves
    QString m_display;
    QString m_boardLink;

    QElapsedTimer m_clock;
    QTimer m_tick;
    Phase m_phase = Phase::Load;
    qint64 m_phaseAt = 0;
    QString m_failure;

    SoakSequence m_streams[StreamCount];
    SoakSequence m_visitPairs[3]; // the Visits stream, one per pair of visitors
    int m_visits = 0;
    QVector<SoakSequence::Window> m_windows;
    int m_boardRead = 0;
    int m_busRead = 0;
    QMap<QByteArray, QMap<int, QByteArray>> m_downParts; // (serial, key) -> data by index
    QMap<QString, int> m_otherAtBoard;        // frames of no stream, by command
    QMap<QString, int> m_otherOnBus;          // messages of no stream, by event
    int m_controlTimedOut = 0;
    int m_controlOutstanding = -1;
    int m_hardwareOutstanding = -1;
    QByteArray m_hardwareExpect;

    // Board side
    bool m_boardPresent = true;
    QStringList m_upPriority; // replies and questions go before the filler
    QString m_upSecondPart;   // second part frame of a message split in two
    int m_fillerIndex = 0;
    qint64 m_nextUpAt = 0;
    qint64 m_lastScreenInfoAnswer = -100000;
    int m_partSerial = 0;

    // Stroke agent
    bool m_agentReady = false;
    bool m_agentWanted = true;
    qint64 m_nextStrokeAt = 0;
    int m_strokeOutstanding = -1;
    qint64 m_strokeSentAt = 0;
    int m_probes = 0;
    int m_probeOutstanding = -1;
    int m_agentStarts = 0;
    // What the stand-in heard of the centre's requests since its last start.
    QString m_agentLastParam;
    int m_agentCopies = 0;
    QVector<int> m_agentCopiesByStart; // most copies of one request, per start
    int m_agentHeard = 0;    // all starts
    int m_agentDistinct = 0; // all starts

    // Bus side
    qint64 m_nextDown[StreamCount] = {};
    qint64 m_nextControlAt = 0;
    qint64 m_controlSentAt = 0;

    // Churn
    int m_churnIndex = 0;
    int m_churnsDone = 0;
    qint64 m_nextChurnAt = 0;
    bool m_inChurn = false;
    Churn m_churn = Churn::Visitors;
    int m_churnStep = 0;
    qint64 m_churnStepAt = 0;
    int m_lossCount = 0;
    int m_visitBatch = 0;
    qint64 m_nextVisitAt = 0;
    qint64 m_nextVisitorPassAt = 0;
    bool m_settling = false;
    QString m_settleWhat;
    qint64 m_settleFrom = 0;
    qint64 m_nextSettleSample = 0;
    QVector<ChurnCheck> m_checks;

    // Samples
    QVector<ProcessSampler::Sample> m_samples;
    qint64 m_nextSampleAt = 0;
    bool m_warm = false;
    ProcessSampler::Sample m_startSample, m_warmSample, m_loadEndSample, m_idleFrom, m_idleTo;
    int m_baseFds = -1, m_baseThreads = -1;
    int m_delivered = 0; // frames at the board and messages of the centre, idle excepted
    QVector<int> m_deliveredBySample;
    int m_warmSampleIndex = 0;
    int m_loadEndIndex = 0;
    int m_idleBoardFrames = 0;
    bool m_goalsMet = false;
};

#endif // SOAKRUN_H
