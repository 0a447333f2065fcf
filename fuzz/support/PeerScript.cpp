// SPDX-License-Identifier: Apache-2.0
#include "PeerScript.h"

TPeerScript ParsePeerScript(std::string_view input, std::size_t maxConnections) {
    TPeerScript script;
    if (!input.empty()) {
        script.options = static_cast<std::uint8_t>(input[0]);
        input.remove_prefix(1);
    }
    script.connections.emplace_back();
    std::string piece;
    const auto endPiece = [&] {
        if (!piece.empty()) script.connections.back().pieces.push_back(std::move(piece));
        piece.clear();
    };
    for (std::size_t i = 0; i < input.size(); ++i) {
        const char mark = i + 1 < input.size() && input[i] == '~' ? input[i + 1] : '\0';
        if (mark == '|') {
            endPiece();
        } else if (mark == 'C' || mark == 'R') {
            endPiece();
            script.connections.back().reset = mark == 'R';
            if (script.connections.size() >= maxConnections) return script;
            script.connections.emplace_back();
        } else {
            piece += input[i];
            continue;
        }
        ++i;
    }
    endPiece();
    return script;
}

std::string AllBytes(const TPeerConnection& connection) {
    std::string all;
    for (const std::string& p : connection.pieces) all += p;
    return all;
}
