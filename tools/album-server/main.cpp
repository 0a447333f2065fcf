// SPDX-License-Identifier: Apache-2.0
// album-server: the bundled album service. See README.md and --help.
#include "AlbumService.h"
#include "Connections.h"
#include "Options.h"
#include "PipeliningServer.h"
#include "fotaviq/Version.h"

#include <httplib.h>

#include <pthread.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <thread>

namespace {

// Written to a temporary name and renamed, so a watcher never reads half a number.
bool WriteReadyFile(const std::string& path, int port)
{
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << port << '\n';
        if (!out.flush())
            return false;
    }
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // Signals are taken by one thread with sigwait, so the stop runs in ordinary code,
    // not in a handler. Blocked before any thread starts, so every thread inherits it.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a client that hangs up must not end the process

    Options options;
    try {
        options = ParseOptions(argc, argv);
    } catch (const std::invalid_argument& e) {
        std::cerr << "album-server: " << e.what() << "\nTry 'album-server --help'.\n";
        return 2;
    }
    if (options.help) {
        std::cout << UsageText(Catalogue());
        return 0;
    }
    if (options.version) {
        std::cout << "fotaviq-album-server " FOTAVIQ_VERSION "\n";
        return 0;
    }

    // Declared first so it outlives the server, whose routes point into it.
    std::unique_ptr<AlbumService> service;
    // The TLS server is a server whose connections speak TLS; everything else is the same.
    std::unique_ptr<httplib::Server> ownedServer;
    if (options.tlsCert.empty())
        ownedServer = std::make_unique<PipeliningServer>();
    else
        ownedServer = std::make_unique<PipeliningTlsServer>(options.tlsCert.c_str(), options.tlsKey.c_str());
    if (!ownedServer->is_valid()) {
        std::cerr << "album-server: cannot use --tls-cert " << options.tlsCert << " with --tls-key " << options.tlsKey
                  << "\n";
        return 1;
    }
    httplib::Server& server = *ownedServer;
    const int threads = options.threads;
    server.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<std::size_t>(threads)); };
    // A kept-alive connection answers at once: without this, the response's last small
    // write waits for the client's delayed acknowledgement of the one before (tens of ms).
    server.set_tcp_nodelay(true);
    // The library's own limit (5 requests) would make a client that keeps its connections
    // open set up one per five photos; real servers allow a hundred or more.
    server.set_keep_alive_max_count(static_cast<std::size_t>(options.keepAliveRequests));
    // The library listens with a backlog of 5: a burst of parallel connects overflows it,
    // and the dropped ones are retried by the client only a second later. Listening
    // again on the same socket just raises the backlog.
    int listener = -1;
    const bool anyV6 = options.bind == "::";
    server.set_socket_options([&listener, anyV6](socket_t sock) {
        httplib::default_socket_options(sock);
        if (anyV6) {
            // "::" serves both families, whatever the system's default for IPv6 sockets.
            int no = 0;
            setsockopt(sock, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
        }
        listener = sock;
    });
    int port = options.port;
    if (port == 0)
        port = server.bind_to_any_port(options.bind);
    else if (!server.bind_to_port(options.bind, port))
        port = -1;
    if (port <= 0 || listen(listener, 1024) != 0) {
        std::cerr << "album-server: cannot listen on " << UrlHost(options.bind) << ":" << options.port << "\n";
        return 1;
    }

    try {
        service = std::make_unique<AlbumService>(options, port);
        if (options.pregenerate)
            service->Pregenerate();
    } catch (const std::exception& e) {
        std::cerr << "album-server: " << e.what() << "\n";
        return 1;
    }
    service->Install(server);

    std::atomic<bool> listenEnded{false};
    std::thread signalThread([&] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        if (listenEnded)
            return;  // woken by main after the server ended on its own
        service->BeginStop();
        // A signal in the instant between bind and listen would find the server not yet
        // running, and stop() would do nothing.
        while (!server.is_running() && !listenEnded)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!listenEnded)
            server.stop();
        // A worker waits up to the keep-alive time for a kept-alive connection's next
        // request; with no new connections coming any more, end those waits now.
        ShutDownConnections(port);
    });

    if (!options.readyFile.empty() && !WriteReadyFile(options.readyFile, port))
        std::cerr << "album-server: cannot write " << options.readyFile << "\n";
    std::cout << "listening on " << UrlHost(options.bind) << ":" << port << std::endl;

    const bool ok = server.listen_after_bind();
    listenEnded = true;
    pthread_kill(signalThread.native_handle(), SIGTERM);
    signalThread.join();
    return ok ? 0 : 1;
}
