// molvex-milter: Molvex in a live mail flow. A daemon that Postfix or Sendmail hands each message
// to over the milter protocol (libmilter); it scans the message with libmilter's threads sharing
// one Scanner, applies the decision policy and tells the MTA to add the X-Molvex header fields,
// quarantine, reject (550 5.7.1 naming the tests) or accept. Internal failures and a full house
// (too many messages in flight) give a temporary failure.
//
//   molvex-milter [-c FILE] [--socket SPEC] [--foreground] [--pid-file FILE] [--check-config]
//
// Signals: SIGHUP re-reads the configuration and the lists (a failed reload keeps the running
// state), SIGUSR1 logs the counters, SIGTERM and SIGINT stop after the messages in progress.
// Exit status: 0 after a clean stop or a good --check-config, 1 when the configuration, the
// module or the socket cannot be set up, 2 on bad usage.
#include <fcntl.h>
#include <getopt.h>
#include <libmilter/mfapi.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "host/cli.h"
#include "host/install_layout.h"
#include "host/milter_session.h"

// libmilter's own signal thread waits for SIGHUP, SIGTERM and SIGINT with sigwait and stops the
// daemon on any of them. SIGHUP is ours (reload): this definition, which libmilter binds to in
// place of the C library's, leaves it out of every set waited for with sigwait. The daemon's own
// signal thread waits with sigwaitinfo.
extern "C" int sigwait(const sigset_t* set, int* sig) {
    sigset_t without = *set;
    sigdelset(&without, SIGHUP);
    for (;;) {
        const int caught = sigwaitinfo(&without, nullptr);
        if (caught > 0) {
            *sig = caught;
            return 0;
        }
        if (errno != EINTR) return errno;
    }
}

namespace {

const char kUsage[] =
    "usage: molvex-milter [options]\n"
    "Scans the messages an MTA hands over the milter protocol with libmilter and applies the\n"
    "decision policy: X-Molvex header fields, quarantine, rejection or acceptance.\n"
    "  -c, --config FILE    \"key = value\" configuration, in the format of molvex-scan\n"
    "  -s, --socket SPEC    listen on unix:PATH or inet:PORT@ADDRESS (default: the\n"
    "                       configuration's /molvex/milter/Socket)\n"
    "      --library PATH   the module (default: the one installed or built with this tool)\n"
    "      --check-config   load the configuration, the module and the lists, then exit\n"
    "  -f, --foreground     stay in the foreground and log to standard error\n"
    "  -p, --pid-file FILE  write the process id to FILE\n"
    "  -h, --help           this text\n"
    "      --version        the version\n"
    "Signals: HUP reloads the configuration and lists, USR1 logs the counters, TERM stops.\n";

struct Options {
    std::string configFile, socket, libraryPath, pidFile;
    bool checkConfig = false;
    bool foreground = false;
};

Options g_options;
host::MilterEngine* g_engine = nullptr;
bool g_syslog = false;
bool g_tcp = false;  // listening on inet: or inet6:
std::mutex g_logMutex;

void Log(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Log(int priority, const char* format, ...) {
    char line[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (g_syslog) {
        syslog(priority, "%s", line);
        return;
    }
    std::lock_guard<std::mutex> lock(g_logMutex);
    std::fprintf(stderr, "molvex-milter: %s\n", line);
}

int Usage(const std::string& problem) {
    std::fprintf(stderr, "molvex-milter: %s\nTry 'molvex-milter --help'.\n", problem.c_str());
    return 2;
}

std::shared_ptr<host::MilterState> Load(bool open, std::string* error) {
    return host::LoadMilterState(g_options.configFile, g_options.libraryPath,
                                 host::FindInstallLayout().data, open, error);
}

// One SMTP connection: the message in progress, the state it is scanned with, its place in
// flight. Owned by libmilter's private pointer, used by that connection's thread only.
struct Connection {
    std::string client;
    std::unique_ptr<host::MilterMessage> message;
    std::shared_ptr<host::MilterState> state;
    bool admitted = false;
    bool busy = false;  // refused at MAIL while the MTA expected no reply: deferred at its end
    unsigned long noReply = 0;  // the steps the MTA agreed to send without waiting for a reply
    std::chrono::steady_clock::time_point start;

    void EndMessage() {
        message.reset();
        state.reset();
        if (admitted) g_engine->Release();
        admitted = false;
        busy = false;
    }
    // What a step answers: nothing when the MTA agreed to send it without waiting for a reply.
    sfsistat Answer(unsigned long step, sfsistat result) const {
        return (noReply & step) != 0 ? SMFIS_NOREPLY : result;
    }
};

Connection* Of(SMFICTX* ctx) {
    return static_cast<Connection*>(smfi_getpriv(ctx));
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Every callback runs under this guard: an exception becomes a temporary failure.
template <typename Body>
sfsistat Guarded(SMFICTX* ctx, const char* stage, Body body) {
    try {
        return body();
    } catch (const std::exception& e) {
        Log(LOG_ERR, "%s: %s; message deferred", stage, e.what());
    } catch (...) {
        Log(LOG_ERR, "%s: unexpected failure; message deferred", stage);
    }
    if (Connection* c = Of(ctx)) c->EndMessage();
    return SMFIS_TEMPFAIL;
}

// Recipients, headers, their end and body chunks go without a reply where the MTA agreed: a
// message that failed on the way (or was never admitted) has no message left, and its end gets
// the temporary failure.
template <typename Body>
sfsistat Gathering(SMFICTX* ctx, const char* stage, unsigned long step, Body body) {
    Connection* c = Of(ctx);
    if (c == nullptr) return SMFIS_TEMPFAIL;
    if (!c->message) return c->Answer(step, SMFIS_TEMPFAIL);
    const sfsistat result = Guarded(ctx, stage, [&] {
        body(*c);
        return SMFIS_CONTINUE;
    });
    return c->Answer(step, result);
}

// The reply to a message refused because too many are in flight.
void SetBusyReply(SMFICTX* ctx) {
    smfi_setreply(ctx, const_cast<char*>("451"), const_cast<char*>("4.3.2"),
                  const_cast<char*>("Molvex is busy, try again later"));
}

// Asks the MTA to skip the steps the milter does not use and to send every step up to the end
// of the message without waiting for a reply: the MTA then writes the whole transaction at
// once and the milter wakes up for it once, not once per SMTP command.
sfsistat OnNegotiate(SMFICTX* ctx, unsigned long actions, unsigned long steps, unsigned long,
                     unsigned long, unsigned long* wantedActions, unsigned long* wantedSteps,
                     unsigned long* unused2, unsigned long* unused3) {
    const unsigned long needed = SMFIF_ADDHDRS | SMFIF_CHGHDRS | SMFIF_QUARANTINE;
    if ((actions & needed) != needed) return SMFIS_ALL_OPTS;  // an MTA that offers less
    auto connection = std::make_unique<Connection>();
    connection->noReply = steps & (SMFIP_NR_CONN | SMFIP_NR_MAIL | SMFIP_NR_RCPT | SMFIP_NR_HDR |
                                   SMFIP_NR_EOH | SMFIP_NR_BODY);
    if (smfi_setpriv(ctx, connection.get()) != MI_SUCCESS) return SMFIS_ALL_OPTS;
    *wantedActions = needed;
    // Over TCP the DATA step keeps its reply: Postfix's SMTP server writes the envelope, then
    // its cleanup server writes the headers to the same socket; with nothing acknowledged in
    // between, Nagle's algorithm on the MTA's side holds that write for a delayed ACK (40 ms).
    const unsigned long skipped = SMFIP_NOHELO | SMFIP_NOUNKNOWN | (g_tcp ? 0 : SMFIP_NODATA);
    *wantedSteps = connection->noReply | (steps & skipped);
    *unused2 = *unused3 = 0;
    connection.release();
    return SMFIS_CONTINUE;
}

sfsistat OnConnect(SMFICTX* ctx, char* hostname, _SOCK_ADDR*) {
    return Guarded(ctx, "connect", [&] {
        if (Connection* negotiated = Of(ctx)) {
            negotiated->client = hostname ? hostname : "";
            return negotiated->Answer(SMFIP_NR_CONN, SMFIS_CONTINUE);
        }
        auto connection = std::make_unique<Connection>();
        connection->client = hostname ? hostname : "";
        if (smfi_setpriv(ctx, connection.get()) != MI_SUCCESS) return SMFIS_TEMPFAIL;
        connection.release();
        return SMFIS_CONTINUE;
    });
}

// Admits the message or, with too many in flight, defers it: at once, or at its end when the
// MTA expects no reply now (nothing of it is kept meanwhile).
sfsistat OnEnvelopeFrom(SMFICTX* ctx, char** argv) {
    Connection* c = Of(ctx);
    if (c == nullptr) return SMFIS_TEMPFAIL;
    const sfsistat result = Guarded(ctx, "envelope", [&] {
        c->EndMessage();
        if (!g_engine->Admit()) {
            g_engine->Record(host::MilterEngine::kTempFailed, 0);
            Log(LOG_WARNING, "too many messages in flight: deferred from=%s",
                argv && argv[0] ? argv[0] : "");
            c->busy = true;
            if ((c->noReply & SMFIP_NR_MAIL) == 0) SetBusyReply(ctx);
            return SMFIS_TEMPFAIL;
        }
        c->admitted = true;
        c->state = g_engine->Current();
        c->message = std::make_unique<host::MilterMessage>();
        c->message->SetConnection(c->client);
        std::string sender = argv && argv[0] ? argv[0] : "";
        if (sender.size() >= 2 && sender.front() == '<' && sender.back() == '>')
            sender = sender.substr(1, sender.size() - 2);
        c->message->SetSender(sender);
        return SMFIS_CONTINUE;
    });
    return c->Answer(SMFIP_NR_MAIL, result);
}

sfsistat OnRecipient(SMFICTX* ctx, char** argv) {
    return Gathering(ctx, "recipient", SMFIP_NR_RCPT, [&](Connection& c) {
        c.message->AddRecipient(argv && argv[0] ? argv[0] : "");
    });
}

sfsistat OnHeader(SMFICTX* ctx, char* name, char* value) {
    return Gathering(ctx, "header", SMFIP_NR_HDR, [&](Connection& c) {
        c.message->AddHeader(name, value ? value : "", c.state->maxMessageSize);
    });
}

sfsistat OnEndOfHeader(SMFICTX* ctx) {
    return Gathering(ctx, "header", SMFIP_NR_EOH,
                     [&](Connection& c) { c.message->EndHeaders(c.state->maxMessageSize); });
}

sfsistat OnBody(SMFICTX* ctx, unsigned char* data, size_t size) {
    return Gathering(ctx, "body", SMFIP_NR_BODY, [&](Connection& c) {
        c.message->AddBody(reinterpret_cast<const char*>(data), size, c.state->maxMessageSize);
    });
}

// Tells the MTA what the reply asks for; false when libmilter refuses one of the actions.
bool Apply(SMFICTX* ctx, const host::MilterReply& reply) {
    auto text = [](const std::string& s) { return const_cast<char*>(s.c_str()); };
    if (reply.kind != host::MilterReply::kAccept) {
        return smfi_setreply(ctx, text(reply.code), text(reply.extended), text(reply.text)) ==
               MI_SUCCESS;
    }
    for (const auto& [name, index] : reply.removeHeaders) {
        if (smfi_chgheader(ctx, text(name), std::stoi(index), nullptr) != MI_SUCCESS) return false;
    }
    // Inserted on top in reverse, so that they end up in the reply's order.
    for (auto it = reply.addHeaders.rbegin(); it != reply.addHeaders.rend(); ++it) {
        if (smfi_insheader(ctx, 0, text(it->first), text(it->second)) != MI_SUCCESS) return false;
    }
    return reply.quarantine.empty() || smfi_quarantine(ctx, text(reply.quarantine)) == MI_SUCCESS;
}

sfsistat OnEndOfMessage(SMFICTX* ctx) {
    return Guarded(ctx, "end of message", [&] {
        Connection* c = Of(ctx);
        if (c != nullptr && c->busy) {
            c->EndMessage();
            SetBusyReply(ctx);
            return SMFIS_TEMPFAIL;
        }
        if (c == nullptr || !c->message) return SMFIS_TEMPFAIL;
        // The milter's own time per message: judging it and handing the changes to the MTA
        // (gathering it is the MTA's pace, not ours).
        c->start = std::chrono::steady_clock::now();
        host::MilterReply reply;
        {
            const auto scans = g_engine->ScanLock();  // the scanner open now (a reload waits)
            reply = c->message->Finish(*g_engine->Current());
        }
        if (!Apply(ctx, reply)) {
            reply = host::MilterReply();
            reply.kind = host::MilterReply::kTempFail;
            reply.text = "the MTA refused the milter's changes";
        }
        const double seconds = SecondsSince(c->start);
        const char* queueId = smfi_getsymval(ctx, const_cast<char*>("i"));
        const host::MilterEngine::Outcome outcome = host::OutcomeOf(reply);
        g_engine->Record(outcome, seconds);
        Log(reply.kind == host::MilterReply::kTempFail ? LOG_WARNING : LOG_INFO, "%s",
            c->message->LogLine(queueId ? queueId : "", reply, seconds).c_str());
        c->EndMessage();
        switch (reply.kind) {
            case host::MilterReply::kReject:
                return SMFIS_REJECT;
            case host::MilterReply::kTempFail:
                return SMFIS_TEMPFAIL;
            default:
                return SMFIS_CONTINUE;
        }
    });
}

sfsistat OnData(SMFICTX*) {
    return SMFIS_CONTINUE;
}

sfsistat OnAbort(SMFICTX* ctx) {
    if (Connection* c = Of(ctx)) c->EndMessage();
    return SMFIS_CONTINUE;
}

sfsistat OnClose(SMFICTX* ctx) {
    Connection* c = Of(ctx);
    if (c != nullptr) {
        c->EndMessage();
        smfi_setpriv(ctx, nullptr);
        delete c;
    }
    return SMFIS_CONTINUE;
}

// libmilter writes each reply and each header change with a write of its own. Over TCP, Nagle's
// algorithm holds the second small write until the MTA acknowledges the first, and the MTA,
// waiting for the rest, delays that acknowledgement: about 40 ms per message. libmilter does not
// hand out its listening socket, so it is looked up among the open descriptors; Linux gives the
// connections it accepts the listener's TCP_NODELAY.
void DisableNagle() {
    for (int fd = 0; fd < 1024; ++fd) {
        int listening = 0;
        socklen_t size = sizeof listening;
        sockaddr_storage address{};
        socklen_t addressSize = sizeof address;
        if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 || !listening ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &addressSize) != 0 ||
            (address.ss_family != AF_INET && address.ss_family != AF_INET6)) {
            continue;
        }
        const int on = 1;
        if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0)
            Log(LOG_WARNING, "cannot set TCP_NODELAY on the listening socket: %s",
                std::strerror(errno));
    }
}

// Waits for SIGHUP (reload), SIGUSR1 (counters) and SIGUSR2 (the end of the daemon).
void SignalLoop(sigset_t set) {
    for (;;) {
        const int sig = sigwaitinfo(&set, nullptr);
        if (sig == SIGUSR2) return;
        if (sig == SIGUSR1) {
            Log(LOG_INFO, "counters: %s in-flight=%zu", g_engine->Counters().c_str(),
                g_engine->inFlight());
        } else if (sig == SIGHUP) {
            std::string error;
            if (g_engine->Reload([](std::string* e) { return Load(false, e); }, &error)) {
                Log(LOG_INFO, "configuration and lists reloaded");
            } else {
                Log(LOG_ERR, "reload failed, the running configuration stays: %s", error.c_str());
            }
        }
    }
}

int ParseOptions(int argc, char** argv) {
    enum { kLibrary = 256, kCheckConfig, kVersion };
    static const option kLong[] = {
        {"config", required_argument, nullptr, 'c'},
        {"socket", required_argument, nullptr, 's'},
        {"library", required_argument, nullptr, kLibrary},
        {"check-config", no_argument, nullptr, kCheckConfig},
        {"foreground", no_argument, nullptr, 'f'},
        {"pid-file", required_argument, nullptr, 'p'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kVersion},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":c:s:fp:h", kLong, nullptr)) != -1) {
        switch (c) {
            case 'c':
                g_options.configFile = optarg;
                break;
            case 's':
                g_options.socket = optarg;
                break;
            case kLibrary:
                g_options.libraryPath = optarg;
                break;
            case kCheckConfig:
                g_options.checkConfig = true;
                break;
            case 'f':
                g_options.foreground = true;
                break;
            case 'p':
                g_options.pidFile = optarg;
                break;
            case 'h':
                std::fputs(kUsage, stdout);
                return 0;
            case kVersion:
                host::PrintVersion("molvex-milter");
                return 0;
            case ':':
                return Usage(std::string("option ") + argv[optind - 1] + " needs a value");
            default:
                return Usage(std::string("unknown option ") + argv[optind - 1]);
        }
    }
    if (optind < argc) return Usage(std::string("unexpected argument ") + argv[optind]);
    return -1;
}

// Detaches from the terminal: a child in a session of its own, standard streams on /dev/null.
bool Daemonize(std::string* error) {
    const pid_t pid = fork();
    if (pid < 0) {
        *error = std::string("cannot fork: ") + std::strerror(errno);
        return false;
    }
    if (pid > 0) _exit(0);
    setsid();
    if (chdir("/") != 0) {
        *error = std::string("cannot change to /: ") + std::strerror(errno);
        return false;
    }
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
        if (null > 2) close(null);
    }
    return true;
}

bool WritePidFile(const std::string& path, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr || std::fprintf(file, "%ld\n", static_cast<long>(getpid())) < 0 ||
        std::fclose(file) != 0) {
        *error = "pid file " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int parsed = ParseOptions(argc, argv);
    if (parsed >= 0) return parsed;

    std::string error;
    std::shared_ptr<host::MilterState> state = Load(true, &error);
    if (!state) {
        std::fprintf(stderr, "molvex-milter: %s\n", error.c_str());
        return 1;
    }
    const std::string socket = g_options.socket.empty() ? state->socket : g_options.socket;
    g_tcp = socket.rfind("inet", 0) == 0;
    if (g_options.checkConfig) {
        std::printf("configuration OK: socket %s, at most %zu messages in flight, size cap %llu\n",
                    socket.c_str(), state->maxInFlight,
                    static_cast<unsigned long long>(state->maxMessageSize));
        return 0;
    }
    host::MilterEngine engine(std::move(state));
    g_engine = &engine;

    static smfiDesc filter = {};
    filter.xxfi_name = const_cast<char*>("molvex-milter");
    filter.xxfi_version = SMFI_VERSION;
    filter.xxfi_flags = SMFIF_ADDHDRS | SMFIF_CHGHDRS | SMFIF_QUARANTINE;
    filter.xxfi_connect = OnConnect;
    filter.xxfi_envfrom = OnEnvelopeFrom;
    filter.xxfi_envrcpt = OnRecipient;
    filter.xxfi_header = OnHeader;
    filter.xxfi_eoh = OnEndOfHeader;
    filter.xxfi_body = OnBody;
    filter.xxfi_eom = OnEndOfMessage;
    filter.xxfi_abort = OnAbort;
    filter.xxfi_close = OnClose;
    filter.xxfi_data = OnData;
    filter.xxfi_negotiate = OnNegotiate;
    if (smfi_register(filter) != MI_SUCCESS ||
        smfi_setconn(const_cast<char*>(socket.c_str())) != MI_SUCCESS ||
        smfi_opensocket(true) != MI_SUCCESS) {
        std::fprintf(stderr, "molvex-milter: cannot listen on %s\n", socket.c_str());
        return 1;
    }
    DisableNagle();
    if (!g_options.foreground) {
        if (!Daemonize(&error)) {
            std::fprintf(stderr, "molvex-milter: %s\n", error.c_str());
            return 1;
        }
        openlog("molvex-milter", LOG_PID, LOG_MAIL);
        g_syslog = true;
    }
    if (!g_options.pidFile.empty() && !WritePidFile(g_options.pidFile, &error)) {
        Log(LOG_ERR, "%s", error.c_str());
        return 1;
    }

    // Blocked here, before libmilter starts its threads, so that only the signal thread gets them.
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGHUP, SIGUSR1, SIGUSR2}) sigaddset(&set, sig);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread signals(SignalLoop, set);

    Log(LOG_INFO, "listening on %s", socket.c_str());
    const int status = smfi_main() == MI_SUCCESS ? 0 : 1;
    Log(LOG_INFO, "stopped: %s", engine.Counters().c_str());
    pthread_kill(signals.native_handle(), SIGUSR2);
    signals.join();
    if (!g_options.pidFile.empty()) unlink(g_options.pidFile.c_str());
    return status;
}
