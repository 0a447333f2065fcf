// SPDX-License-Identifier: Apache-2.0
#pragma once
// A THttpCli whose network is a script: no lookup and no socket. Each connection the client
// makes takes the next exchange of the script; the exchange's pieces arrive one per posted
// message (one arrival = one data notification, read in buffer-sized parts like the
// socket's receive loop), then the peer closes unless the exchange says otherwise. What
// the client sends is collected in Sent. With no exchange left a connection is refused.
// Works with or without a Qt application (the message layer drains its own queue then).
#include <deque>
#include <string>
#include <vector>

#include "http/HttpProt.h"
#include "platform/Messages.h"

class TScriptedHttpCli : public THttpCli {
public:
    struct Exchange {
        std::vector<std::string> pieces;
        bool close = true;
    };

    TScriptedHttpCli() {
        helper_ = AllocateHWnd([this](TMessage&) { Step(); });
        SetConnectTimeout(0);
        SetIdleTimeout(0);
    }
    ~TScriptedHttpCli() override { DeallocateHWnd(helper_); }

    void AddExchange(std::vector<std::string> pieces, bool close = true) {
        script.push_back(Exchange{std::move(pieces), close});
    }

    std::deque<Exchange> script;
    std::string sent;                   // everything the client sent, all connections
    std::vector<std::string> requests;  // "host:port requestpath" per connection attempt
    int aborts = 0;
    bool open = false;

    using THttpCli::BeginRequest;
    using THttpCli::HandleDataAvailable;
    using THttpCli::SocketSessionClosed;

protected:
    void ConnectToServer() override {
        SetState(httpResolving);
        requests.push_back(ConnectHost() + ":" + ConnectPort() + " " + RequestPath());
        actions_.clear();
        actions_.push_back({Action::kConnect, {}});
        PostMessage(helper_, WM_USER, 0, 0);
    }
    int ReceiveFromSocket(void* buffer, int len) override {
        if (!open || pending_.empty()) return -1;
        const int n = std::min<int>(len, static_cast<int>(pending_.size()));
        pending_.copy(static_cast<char*>(buffer), static_cast<std::size_t>(n));
        pending_.erase(0, static_cast<std::size_t>(n));
        return n;
    }
    void SendToSocket(const void* data, int len) override {
        if (open) sent.append(static_cast<const char*>(data), static_cast<std::size_t>(len));
    }
    void CloseConnection() override { Drop(); }
    void AbortConnection() override {
        ++aborts;
        Drop();
    }

private:
    struct Action {
        enum Kind { kConnect, kArrive, kClose } kind;
        std::string bytes;
    };

    void Drop() {
        pending_.clear();
        actions_.clear();
        if (!open) return;
        open = false;
        SocketSessionClosed(0);
    }

    void Step() {
        if (actions_.empty()) return;
        Action a = std::move(actions_.front());
        actions_.pop_front();
        switch (a.kind) {
            case Action::kConnect: {
                if (script.empty()) {
                    HandleSessionConnected(10061);
                    return;
                }
                Exchange ex = std::move(script.front());
                script.pop_front();
                for (auto& p : ex.pieces) actions_.push_back({Action::kArrive, std::move(p)});
                if (ex.close) actions_.push_back({Action::kClose, {}});
                open = true;
                HandleSessionConnected(0);
                break;
            }
            case Action::kArrive:
                if (!open) return;
                pending_ += a.bytes;
                // The socket's receive loop: deliver while unread bytes remain.
                while (open && !pending_.empty()) {
                    const std::size_t before = pending_.size();
                    HandleDataAvailable(0);
                    if (pending_.size() == before) break;  // the handler read nothing
                }
                break;
            case Action::kClose:
                if (open) {
                    open = false;
                    pending_.clear();
                    SocketSessionClosed(0);
                }
                break;
        }
        if (!actions_.empty()) PostMessage(helper_, WM_USER, 0, 0);
    }

    HWND helper_ = 0;
    std::deque<Action> actions_;
    std::string pending_;
};
