// The same roles as simple libmosquitto clients (QoS 0), for comparison.

#include "benchcommon.h"

#include <mosquitto.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

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

int mqttIdle(int port, int count)
{
    // Plain MQTT 3.1.1 CONNECTs, so that each client costs this process a
    // socket only; they stay until the process is ended.
    std::vector<int> fds;
    int joined = 0;
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(quint16(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0) {
            ::close(fd);
            continue;
        }
        const std::string id = "bench-idle-" + std::to_string(i);
        std::string body("\x00\x04MQTT\x04\x02\x00\x3c", 10);
        body += char(id.size() >> 8);
        body += char(id.size() & 0xff);
        body += id;
        const std::string packet = std::string(1, '\x10') + char(body.size()) + body;
        char ack[4] = {};
        if (::send(fd, packet.data(), packet.size(), MSG_NOSIGNAL) == ssize_t(packet.size())
            && ::recv(fd, ack, sizeof ack, MSG_WAITALL) == 4 && ack[0] == 0x20 && ack[3] == 0)
            ++joined;
        fds.push_back(fd);
    }
    printLine("joined", joined);
    ::pause();
    return 0;
}

} // namespace bench
