#include "sim/gprs_controllers.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <queue>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kFrame = CReportFrameWriter::kSize;
constexpr std::size_t kHalf = kFrame / 2;
constexpr std::size_t kOutCapacity = 4 * kFrame;  // bytes a controller may have waiting for the socket
constexpr std::size_t kMaxPending = 4;            // frames a controller may have waiting for the socket
constexpr int kMaxEvents = 512;
constexpr std::uint64_t kStopTag = ~std::uint64_t{0};
constexpr std::int64_t kNsPerMs = 1000000;

std::int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

enum class State : std::uint8_t { Waiting, Connecting, Connected, Finished, Failed };
enum class TimerKind : std::uint8_t { Due, SecondHalf, ConnectDeadline };

struct Timer
{
    std::int64_t at;
    std::uint32_t controller;
    TimerKind kind;
    bool operator>(const Timer& other) const { return at > other.at; }
};

struct Pending
{
    std::uint64_t end;    // stream offset just past the frame's last byte
    std::uint64_t index;  // the frame's number
};

struct Controller
{
    int fd = -1;
    State state = State::Waiting;
    bool wantWrite = false;
    bool halfHeld = false;
    std::uint8_t pendingCount = 0;
    std::uint16_t outStart = 0;
    std::uint16_t outLength = 0;
    std::uint64_t nextIndex = 0;  // the next frame to queue
    std::uint64_t writes = 0;     // writes begun, for the schedule
    std::uint64_t queuedBytes = 0;
    std::uint64_t sentBytes = 0;
    std::int64_t firstDue = 0;
    std::array<Pending, kMaxPending> pending{};
    std::array<std::uint8_t, kHalf> held{};
    std::uint64_t heldIndex = 0;
    std::array<std::uint8_t, kOutCapacity> out{};
};

} // namespace

struct CGprsControllers::Engine
{
    explicit Engine(T_GPRSPLAN p) : plan(std::move(p)), stopFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Engine()
    {
        if (stopFd >= 0)
            close(stopFd);
    }

    T_GPRSRESULT Run();

    bool ResolveAddress();
    void StartConnects(std::int64_t now);
    void BeginConnect(std::uint32_t i, std::int64_t now);
    void OnConnected(std::uint32_t i, std::int64_t now);
    void OnConnectFailed(std::uint32_t i);
    void OnLost(std::uint32_t i);
    void OnDue(std::uint32_t i, std::int64_t now);
    void OnSecondHalf(std::uint32_t i);
    bool Queue(Controller& c, const std::uint8_t* bytes, std::size_t length, bool endsFrame, std::uint64_t index);
    void Flush(std::uint32_t i);
    void SetWriteInterest(std::uint32_t i, bool wanted);
    void MaybeFinish(std::uint32_t i);
    void Drain(std::uint32_t i);
    void Close(Controller& c);
    std::uint64_t FramesLeft(const Controller& c) const;

    T_GPRSPLAN plan;
    int stopFd = -1;
    int epollFd = -1;
    SentHook hook;
    sockaddr_storage address{};
    socklen_t addressLength = 0;
    std::vector<Controller> controllers;
    std::priority_queue<Timer, std::vector<Timer>, std::greater<>> timers;
    std::uint32_t nextToConnect = 0;
    std::uint32_t connecting = 0;
    std::uint32_t settled = 0;  // controllers Finished or Failed
    std::int64_t start = 0;
    T_GPRSRESULT result;
};

CGprsControllers::CGprsControllers(T_GPRSPLAN plan) : engine_(std::make_unique<Engine>(std::move(plan))) {}

CGprsControllers::~CGprsControllers() = default;

void CGprsControllers::SetSentHook(SentHook hook) { engine_->hook = std::move(hook); }

T_GPRSRESULT CGprsControllers::Run() { return engine_->Run(); }

void CGprsControllers::Stop()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(engine_->stopFd, &one, sizeof one);
}

bool CGprsControllers::Engine::ResolveAddress()
{
    const QByteArray host = plan.host.toLatin1();
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    if (inet_pton(AF_INET, host.constData(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(plan.port);
        addressLength = sizeof(sockaddr_in);
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (inet_pton(AF_INET6, host.constData(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(plan.port);
        addressLength = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

std::uint64_t CGprsControllers::Engine::FramesLeft(const Controller& c) const
{
    std::uint64_t left = c.pendingCount + (c.halfHeld ? 1 : 0);
    if (plan.count != 0 && c.nextIndex < plan.count)
        left += plan.count - c.nextIndex;
    return left;
}

void CGprsControllers::Engine::Close(Controller& c)
{
    if (c.fd >= 0) {
        close(c.fd);
        c.fd = -1;
    }
}

void CGprsControllers::Engine::StartConnects(std::int64_t now)
{
    while (connecting < static_cast<std::uint32_t>(plan.maxConnecting) && nextToConnect < controllers.size())
        BeginConnect(nextToConnect++, now);
}

void CGprsControllers::Engine::BeginConnect(std::uint32_t i, std::int64_t now)
{
    Controller& c = controllers[i];
    c.fd = socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (c.fd < 0) {
        OnConnectFailed(i);
        return;
    }
    // Each write leaves as its own segment, as a controller's modem sends it.
    const int one = 1;
    setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    c.state = State::Connecting;
    ++connecting;
    epoll_event event{};
    event.events = EPOLLOUT;
    event.data.u64 = i;
    if (epoll_ctl(epollFd, EPOLL_CTL_ADD, c.fd, &event) != 0) {
        OnConnectFailed(i);
        return;
    }
    if (connect(c.fd, reinterpret_cast<const sockaddr*>(&address), addressLength) == 0) {
        OnConnected(i, now);
        return;
    }
    if (errno != EINPROGRESS) {
        OnConnectFailed(i);
        return;
    }
    timers.push({now + plan.connectTimeoutMs * kNsPerMs, i, TimerKind::ConnectDeadline});
}

void CGprsControllers::Engine::OnConnectFailed(std::uint32_t i)
{
    Controller& c = controllers[i];
    if (c.state == State::Connecting)
        --connecting;
    Close(c);
    c.state = State::Failed;
    ++settled;
    ++result.connectFailed;
    result.framesUnsent += plan.count;
}

void CGprsControllers::Engine::OnConnected(std::uint32_t i, std::int64_t now)
{
    Controller& c = controllers[i];
    --connecting;
    c.state = State::Connected;
    ++result.connected;
    // The server sends nothing; reading tells when it closes the connection.
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP;
    event.data.u64 = i;
    epoll_ctl(epollFd, EPOLL_CTL_MOD, c.fd, &event);
    c.firstDue = now;
    if (plan.spread)
        c.firstDue = std::max(now, start + static_cast<std::int64_t>(i) * plan.intervalMs * kNsPerMs
                                           / static_cast<std::int64_t>(controllers.size()));
    timers.push({c.firstDue, i, TimerKind::Due});
}

void CGprsControllers::Engine::OnLost(std::uint32_t i)
{
    Controller& c = controllers[i];
    result.framesUnsent += FramesLeft(c);
    Close(c);
    c.state = State::Failed;
    ++settled;
    ++result.connectionsLost;
}

bool CGprsControllers::Engine::Queue(Controller& c, const std::uint8_t* bytes, std::size_t length, bool endsFrame,
                                     std::uint64_t index)
{
    if (c.outLength + length > kOutCapacity || (endsFrame && c.pendingCount == kMaxPending))
        return false;
    if (c.outStart > 0) {
        std::memmove(c.out.data(), c.out.data() + c.outStart, c.outLength);
        c.outStart = 0;
    }
    std::memcpy(c.out.data() + c.outLength, bytes, length);
    c.outLength = static_cast<std::uint16_t>(c.outLength + length);
    c.queuedBytes += length;
    if (endsFrame)
        c.pending[c.pendingCount++] = {c.queuedBytes, index};
    return true;
}

void CGprsControllers::Engine::SetWriteInterest(std::uint32_t i, bool wanted)
{
    Controller& c = controllers[i];
    if (c.wantWrite == wanted)
        return;
    c.wantWrite = wanted;
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP | (wanted ? EPOLLOUT : 0u);
    event.data.u64 = i;
    epoll_ctl(epollFd, EPOLL_CTL_MOD, c.fd, &event);
}

void CGprsControllers::Engine::Flush(std::uint32_t i)
{
    Controller& c = controllers[i];
    while (c.outLength > 0) {
        const ssize_t n = send(c.fd, c.out.data() + c.outStart, c.outLength, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                SetWriteInterest(i, true);
                return;
            }
            OnLost(i);
            return;
        }
        c.outStart = static_cast<std::uint16_t>(c.outStart + n);
        c.outLength = static_cast<std::uint16_t>(c.outLength - n);
        c.sentBytes += static_cast<std::uint64_t>(n);
        std::uint8_t done = 0;
        while (done < c.pendingCount && c.pending[done].end <= c.sentBytes) {
            ++result.framesSent;
            if (hook)
                hook(plan.serialBase + i, c.pending[done].index);
            ++done;
        }
        if (done > 0) {
            std::copy(c.pending.begin() + done, c.pending.begin() + c.pendingCount, c.pending.begin());
            c.pendingCount = static_cast<std::uint8_t>(c.pendingCount - done);
        }
    }
    c.outStart = 0;
    SetWriteInterest(i, false);
    MaybeFinish(i);
}

void CGprsControllers::Engine::MaybeFinish(std::uint32_t i)
{
    Controller& c = controllers[i];
    if (c.state != State::Connected || plan.count == 0 || c.nextIndex < plan.count || c.outLength > 0 || c.halfHeld)
        return;
    c.state = State::Finished;
    ++settled;
}

void CGprsControllers::Engine::OnSecondHalf(std::uint32_t i)
{
    Controller& c = controllers[i];
    if (c.state != State::Connected || !c.halfHeld)
        return;
    c.halfHeld = false;
    if (!Queue(c, c.held.data(), kHalf, true, c.heldIndex))
        ++result.framesUnsent;
    Flush(i);
}

void CGprsControllers::Engine::OnDue(std::uint32_t i, std::int64_t now)
{
    Controller& c = controllers[i];
    if (c.state != State::Connected)
        return;
    if (c.halfHeld)
        OnSecondHalf(i);
    if (c.state != State::Connected)
        return;

    const std::uint32_t serial = plan.serialBase + i;
    const std::uint64_t index = c.nextIndex;
    if (plan.split) {
        const auto frame = FrameBytes(plan, serial, index);
        if (!Queue(c, frame.data(), kHalf, false, index)) {
            ++c.nextIndex;
            ++result.framesUnsent;
        } else if (plan.splitGapMs > 0) {
            std::copy(frame.begin() + kHalf, frame.end(), c.held.begin());
            c.heldIndex = index;
            c.halfHeld = true;
            ++c.nextIndex;
            timers.push({now + plan.splitGapMs * kNsPerMs, i, TimerKind::SecondHalf});
        } else {
            Flush(i);  // the first half goes out in a send of its own
            if (c.state != State::Connected)
                return;  // lost; the frame is counted among those left
            ++c.nextIndex;
            if (!Queue(c, frame.data() + kHalf, kHalf, true, index))
                ++result.framesUnsent;
        }
    } else {
        const bool two = plan.join && (plan.count == 0 || index + 1 < plan.count);
        std::array<std::uint8_t, 2 * kFrame> bytes{};
        const auto first = FrameBytes(plan, serial, index);
        std::copy(first.begin(), first.end(), bytes.begin());
        if (two) {
            const auto second = FrameBytes(plan, serial, index + 1);
            std::copy(second.begin(), second.end(), bytes.begin() + kFrame);
        }
        const std::size_t frames = two ? 2 : 1;
        c.nextIndex += frames;
        // Both frames go in one piece or not at all, so that a join is never cut.
        if (c.outLength + frames * kFrame > kOutCapacity || c.pendingCount + frames > kMaxPending) {
            result.framesUnsent += frames;
        } else {
            Queue(c, bytes.data(), kFrame, true, index);
            if (two)
                Queue(c, bytes.data() + kFrame, kFrame, true, index + 1);
        }
    }
    ++c.writes;
    if (c.state == State::Connected)
        Flush(i);
    if (c.state == State::Connected && (plan.count == 0 || c.nextIndex < plan.count))
        timers.push({c.firstDue + static_cast<std::int64_t>(c.writes) * plan.intervalMs * kNsPerMs, i, TimerKind::Due});
    else
        MaybeFinish(i);
}

void CGprsControllers::Engine::Drain(std::uint32_t i)
{
    Controller& c = controllers[i];
    std::array<std::uint8_t, 4096> scratch;
    for (;;) {
        const ssize_t n = recv(c.fd, scratch.data(), scratch.size(), MSG_DONTWAIT);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        // The server closed the connection (or it broke).
        if (c.state == State::Finished) {
            Close(c);  // already settled; nothing was lost
            return;
        }
        OnLost(i);
        return;
    }
}

T_GPRSRESULT CGprsControllers::Engine::Run()
{
    result = {};
    if (stopFd < 0 || !ResolveAddress()) {
        result.connectFailed = plan.controllers;
        result.framesUnsent = std::uint64_t(plan.count) * plan.controllers;
        return result;
    }
    epollFd = epoll_create1(EPOLL_CLOEXEC);
    epoll_event stopEvent{};
    stopEvent.events = EPOLLIN;
    stopEvent.data.u64 = kStopTag;
    epoll_ctl(epollFd, EPOLL_CTL_ADD, stopFd, &stopEvent);

    controllers.assign(plan.controllers, Controller{});
    start = NowNs();
    StartConnects(start);

    std::int64_t holdUntil = -1;  // set when every controller has settled
    std::vector<epoll_event> events(kMaxEvents);
    bool running = true;
    while (running) {
        std::int64_t now = NowNs();
        if (settled == controllers.size() && holdUntil < 0) {
            if (plan.holdMs == 0)
                break;
            holdUntil = plan.holdMs < 0 ? std::numeric_limits<std::int64_t>::max() : now + plan.holdMs * kNsPerMs;
        }
        std::int64_t wake = holdUntil >= 0 ? holdUntil : std::numeric_limits<std::int64_t>::max();
        if (!timers.empty())
            wake = std::min(wake, timers.top().at);
        if (holdUntil >= 0 && now >= holdUntil)
            break;
        int timeoutMs = -1;
        if (wake != std::numeric_limits<std::int64_t>::max())
            timeoutMs = static_cast<int>(std::clamp<std::int64_t>((wake - now + kNsPerMs - 1) / kNsPerMs, 0, 60000));

        const int n = epoll_wait(epollFd, events.data(), kMaxEvents, timeoutMs);
        now = NowNs();
        for (int k = 0; k < n; ++k) {
            const epoll_event& event = events[k];
            if (event.data.u64 == kStopTag) {
                result.stopped = true;
                running = false;
                break;
            }
            const auto i = static_cast<std::uint32_t>(event.data.u64);
            Controller& c = controllers[i];
            if (c.fd < 0)
                continue;
            if (c.state == State::Connecting) {
                int error = 0;
                socklen_t length = sizeof error;
                getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &error, &length);
                if (error == 0 && (event.events & EPOLLOUT))
                    OnConnected(i, now);
                else if (error != 0 || (event.events & (EPOLLERR | EPOLLHUP)))
                    OnConnectFailed(i);
                continue;
            }
            if (event.events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))
                Drain(i);
            if (c.fd >= 0 && c.state == State::Connected && (event.events & EPOLLOUT))
                Flush(i);
        }
        while (running && !timers.empty() && timers.top().at <= now) {
            const Timer timer = timers.top();
            timers.pop();
            switch (timer.kind) {
            case TimerKind::Due:
                OnDue(timer.controller, now);
                break;
            case TimerKind::SecondHalf:
                OnSecondHalf(timer.controller);
                break;
            case TimerKind::ConnectDeadline:
                if (controllers[timer.controller].state == State::Connecting)
                    OnConnectFailed(timer.controller);
                break;
            }
        }
        StartConnects(now);
    }

    for (Controller& c : controllers) {
        if (result.stopped && c.state == State::Connected)
            result.framesUnsent += c.pendingCount + (c.halfHeld ? 1 : 0);
        Close(c);
    }
    close(epollFd);
    epollFd = -1;
    controllers.clear();
    controllers.shrink_to_fit();
    timers = {};
    return result;
}

std::uint64_t RaiseFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur;
}
