// The same roles as simple libmosquitto clients (QoS 0), for comparison.

#include "benchcommon.h"

#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace bench {

namespace {
const char kTopic[] = "bench/pub";
const char kPing[] = "bench/ping";
const char kPong[] = "bench/pong";

struct Session {
    mosquitto *m = nullptr;
    ~Session()
    {
        if (m) {
            mosquitto_disconnect(m);
            mosquitto_destroy(m);
        }
    }
};

bool open(Session &s, const char *id, int port, void *user)
{
    mosquitto_lib_init();
    s.m = mosquitto_new(id, true, user);
    return s.m && mosquitto_connect(s.m, "127.0.0.1", port, 60) == MOSQ_ERR_SUCCESS;
}
} // namespace

int mqttSubscribe(int port, int expected, int index, int idleMs)
{
    struct State {
        Tally tally;
        int idleMs;
        explicit State(int n, int idle) : tally(n), idleMs(idle) {}
    } state(expected, idleMs);
    Session s;
    const QByteArray id = "bench-sub-" + QByteArray::number(index);
    if (!open(s, id.constData(), port, &state))
        return 3;
    mosquitto_subscribe_callback_set(s.m, [](mosquitto *, void *, int, int, const int *) {
        printLine("ready", nowNs());
    });
    mosquitto_message_callback_set(s.m, [](mosquitto *m, void *user, const mosquitto_message *msg) {
        auto *st = static_cast<State *>(user);
        st->tally.add(seqOf(static_cast<const char *>(msg->payload), msg->payloadlen));
        if (st->tally.complete())
            mosquitto_disconnect(m);
    });
    mosquitto_subscribe(s.m, nullptr, kTopic, 0);
    int seenAtLastTick = 0;
    int64_t tick = nowNs();
    while (mosquitto_loop(s.m, 50, 1) == MOSQ_ERR_SUCCESS) {
        if (nowNs() - tick >= int64_t(idleMs) * 1000000) {
            if (state.tally.received > 0 && state.tally.received == seenAtLastTick)
                break;
            seenAtLastTick = state.tally.received;
            tick = nowNs();
        }
    }
    state.tally.print();
    return 0;
}

int mqttPublish(int port, int count)
{
    struct State {
        std::atomic<int> written{0};
    } state;
    Session s;
    if (!open(s, "bench-pub", port, &state))
        return 3;
    mosquitto_publish_callback_set(s.m, [](mosquitto *, void *user, int) {
        ++static_cast<State *>(user)->written;
    });
    std::vector<QByteArray> texts;
    texts.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        texts.push_back(message(i));
    mosquitto_loop_start(s.m);
    printLine("start", nowNs());
    int failed = 0;
    for (const QByteArray &t : texts)
        failed += mosquitto_publish(s.m, nullptr, kTopic, t.size(), t.constData(), 0, false) != MOSQ_ERR_SUCCESS;
    // QoS 0: "published" means handed to the socket.
    while (state.written.load() + failed < count)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    printLine("done", nowNs());
    printLine("failed", failed);
    mosquitto_disconnect(s.m);
    mosquitto_loop_stop(s.m, false);
    return 0;
}

int mqttPong(int port)
{
    Session s;
    if (!open(s, "bench-pong", port, nullptr))
        return 3;
    mosquitto_subscribe_callback_set(s.m, [](mosquitto *, void *, int, int, const int *) {
        printLine("ready", nowNs());
    });
    mosquitto_message_callback_set(s.m, [](mosquitto *m, void *, const mosquitto_message *msg) {
        if (msg->payloadlen == 4 && std::memcmp(msg->payload, "quit", 4) == 0)
            mosquitto_disconnect(m);
        else
            mosquitto_publish(m, nullptr, kPong, msg->payloadlen, msg->payload, 0, false);
    });
    mosquitto_subscribe(s.m, nullptr, kPing, 0);
    mosquitto_loop_forever(s.m, -1, 1);
    return 0;
}

namespace {
struct PingState {
    std::vector<int64_t> rtt;
    int next = 0, rounds = 0, wrong = 0;
    int64_t sentAt = 0;
};

void sendPing(mosquitto *m, PingState *state)
{
    const QByteArray t = message(state->next);
    state->sentAt = nowNs();
    mosquitto_publish(m, nullptr, kPing, t.size(), t.constData(), 0, false);
}
} // namespace

int mqttPing(int port, int rounds)
{
    PingState st;
    st.rounds = rounds;
    st.rtt.reserve(size_t(rounds));
    Session s;
    if (!open(s, "bench-ping", port, &st))
        return 3;
    mosquitto_subscribe_callback_set(s.m, [](mosquitto *m, void *user, int, int, const int *) {
        sendPing(m, static_cast<PingState *>(user));
    });
    mosquitto_message_callback_set(s.m, [](mosquitto *m, void *user, const mosquitto_message *msg) {
        auto *state = static_cast<PingState *>(user);
        if (seqOf(static_cast<const char *>(msg->payload), msg->payloadlen) != state->next) {
            ++state->wrong;
            return;
        }
        state->rtt.push_back(nowNs() - state->sentAt);
        if (++state->next >= state->rounds) {
            mosquitto_publish(m, nullptr, kPing, 4, "quit", 0, false);
            mosquitto_disconnect(m);
            return;
        }
        sendPing(m, state);
    });
    mosquitto_subscribe(s.m, nullptr, kPong, 0);
    int64_t lastProgress = nowNs();
    int lastNext = 0;
    int lost = 0;
    while (mosquitto_loop(s.m, 100, 1) == MOSQ_ERR_SUCCESS) {
        if (st.next != lastNext) {
            lastNext = st.next;
            lastProgress = nowNs();
        } else if (nowNs() - lastProgress > 1000000000LL) {   // a reply lost: go on
            ++lost;
            if (++st.next >= rounds)
                break;
            sendPing(s.m, &st);
            lastProgress = nowNs();
        }
    }
    printLatency(st.rtt, lost, st.wrong);
    return 0;
}

} // namespace bench
