// SPDX-License-Identifier: Apache-2.0
// Line mode against scripted peers: line ends split over reads, partial reads, leaving and
// re-entering line mode, other line ends, the limit, editing and echo, closing with
// buffered bytes, and the resume message's end when nothing can be handed out.
#include <gtest/gtest.h>

#include "SocksTestSupport.h"
#include "support/Loopback.h"

namespace {

using Texts = std::vector<std::string>;

// A line-mode client that records each delivery (what its handler read) and the close.
struct TLineClient {
    Texts Got;
    std::vector<int> Counts;  // RcvdCount at each delivery
    int ReadSize = 0;         // > 0: read at most this many bytes per delivery
    std::function<void(const std::string&)> After;  // runs after each read
    bool Closed = false;
    TTestSocket S;

    TLineClient() {
        S.SetLineMode(true);
        S.OnDataAvailable = [this](TObject*, WORD) {
            Counts.push_back(S.RcvdCount());
            std::string got;
            if (ReadSize > 0) {
                got.resize(static_cast<size_t>(ReadSize));
                const int n = S.Receive(got.data(), ReadSize);
                got.resize(n > 0 ? static_cast<size_t>(n) : 0);
            } else {
                got = S.ReceiveText();
            }
            if (!got.empty()) Got.push_back(got);
            if (After) After(got);
        };
        S.OnSessionClosed = [this](TObject*, WORD) {
            Got.push_back("(closed)");
            Closed = true;
        };
    }
    bool Run(std::uint16_t port) {
        S.SetAddr("127.0.0.1");
        S.SetPort(std::to_string(port));
        S.Connect();
        return PumpUntil([&] { return Closed; });
    }
};

std::string Join(const Texts& t, size_t from = 0) {
    std::string s;
    for (size_t i = from; i < t.size(); ++i) s += t[i];
    return s;
}

}  // namespace

TEST(WSocketLine, LinesAreFoundAcrossReadsAndSeveralInOneRead) {
    ScriptedPeer peer;
    peer.Accept().Send("ab").Delay(30).Send("c\r").Delay(30).Send("\nd\r\n").Delay(30).Send("one\r\ntwo\r\n").Close();
    peer.Start();
    TLineClient c;
    ASSERT_TRUE(c.Run(peer.Port()));
    EXPECT_EQ(c.Got, (Texts{"abc\r\n", "d\r\n", "one\r\n", "two\r\n", "(closed)"}));
    EXPECT_EQ(c.Counts, (std::vector<int>{5, 3, 5, 5}));
    EXPECT_TRUE(c.S.LineReceived());
}

TEST(WSocketLine, ALineReadInThreeBytePiecesLeavesTheBytesBehindItAlone) {
    ScriptedPeer peer;
    peer.Accept().Send("hello world\r\nnext\r\n").Close();
    peer.Start();
    TLineClient c;
    c.ReadSize = 3;
    ASSERT_TRUE(c.Run(peer.Port()));
    EXPECT_EQ(c.Got, (Texts{"hel", "lo ", "wor", "ld\r", "\n", "nex", "t\r\n", "(closed)"}));
    EXPECT_EQ(c.Counts, (std::vector<int>{13, 10, 7, 4, 1, 6, 3}));
}

TEST(WSocketLine, SwitchingLineModeOffHandsOutTheBufferedBytesFirst) {
    // After the first line: switch off only / switch off and read at once / switch off
    // without having read the line.
    for (int variant = 0; variant < 3; ++variant) {
        SCOPED_TRACE(variant);
        ScriptedPeer peer;
        peer.Accept().Send("HEAD\r\nxyz\r\nuvw").ReadUntil("go").Send("tail").Close();
        peer.Start();
        TLineClient c;
        bool first = true;
        c.S.OnDataAvailable = [&](TObject*, WORD) {
            if (first) {
                first = false;
                if (variant != 2) c.Got.push_back(c.S.ReceiveText());
                c.S.SetLineMode(false);
                if (variant == 1) c.Got.push_back(c.S.ReceiveText());
                c.S.SendText("go");
                return;
            }
            c.Got.push_back(c.S.ReceiveText());
        };
        ASSERT_TRUE(c.Run(peer.Port()));
        const std::string expected = variant == 2 ? "HEAD\r\nxyz\r\nuvwtail" : "xyz\r\nuvwtail";
        EXPECT_EQ(Join(c.Got, variant == 2 ? 0 : 1), expected + "(closed)");
    }
}

TEST(WSocketLine, SwitchingLineModeBackOnDeliversTheBufferedLines) {
    ScriptedPeer peer;
    peer.Accept().Send("a\r\nb\r\nc\r\n").ReadUntil("go").Close();
    peer.Start();
    TLineClient c;
    int calls = 0;
    c.After = [&](const std::string&) {
        if (++calls == 1) c.S.SetLineMode(false);
        if (calls == 3) c.S.SendText("go");
    };
    // The first plain delivery switches back without reading anything.
    c.S.OnDataAvailable = [&, read = c.S.OnDataAvailable](TObject* sender, WORD e) {
        if (!c.S.LineMode()) {
            c.S.SetLineMode(true);
            return;
        }
        read(sender, e);
    };
    ASSERT_TRUE(c.Run(peer.Port()));
    EXPECT_EQ(c.Got, (Texts{"a\r\n", "b\r\n", "c\r\n", "(closed)"}));
}

TEST(WSocketLine, OtherLineEnds) {
    ScriptedPeer lf;
    lf.Accept().Send("a\r\nb\n").Close();
    lf.Start();
    TLineClient c;
    c.S.LineEnd = "\n";
    ASSERT_TRUE(c.Run(lf.Port()));
    EXPECT_EQ(c.Got, (Texts{"a\r\n", "b\n", "(closed)"}));

    ScriptedPeer word;
    word.Accept().Send("xxE").Delay(30).Send("NDyyEN").Delay(30).Send("Dz").Close();
    word.Start();
    TLineClient w;
    w.S.LineEnd = "END";
    ASSERT_TRUE(w.Run(word.Port()));
    EXPECT_EQ(w.Got, (Texts{"xxEND", "yyEND", "z", "(closed)"}));
}

TEST(WSocketLine, TheLimitDiscardsUnlessTheHandlerKeepsTheData) {
    ScriptedPeer discard;
    discard.Accept().Send(std::string(20, 'x')).Delay(50).Send("tail\r\n").Close();
    discard.Start();
    TLineClient c;
    EXPECT_EQ(c.S.LineLimit, 65536);
    c.S.LineLimit = 10;
    ASSERT_TRUE(c.Run(discard.Port()));
    EXPECT_EQ(c.Got, (Texts{"tail\r\n", "(closed)"}));

    const std::string flood(70000, 'x');
    ScriptedPeer keep;
    keep.Accept().Send(flood).Delay(50).Send("yy").Delay(50).Send("\r\n").Close();
    keep.Start();
    TLineClient k;
    std::vector<int> lengths;
    k.S.OnLineLimitExceeded = [&](TObject*, int length, bool& clear) {
        lengths.push_back(length);
        clear = false;
    };
    ASSERT_TRUE(k.Run(keep.Port()));
    EXPECT_EQ(k.Got, (Texts{flood + "yy\r\n", "(closed)"}));
    ASSERT_GE(lengths.size(), 2u);
    EXPECT_GT(lengths.front(), 65536);
    EXPECT_EQ(lengths.back(), 70002);
    EXPECT_TRUE(std::is_sorted(lengths.begin(), lengths.end()));
}

TEST(WSocketLine, EditingAndEcho) {
    struct Case {
        std::vector<std::string> pieces;
        bool edit, echo;
        std::string line, echoed;
    };
    const std::vector<Case> cases = {
        {{"ab\bc\r\n"}, true, false, "ac\r\n", ""},
        {{"a\tb\r\n"}, true, false, "a       b\r\n", ""},
        {{"\bx\r\n"}, true, false, "x\r\n", ""},
        {{"abc", "\b\bX\r\n"}, true, false, "aX\r\n", ""},  // erases bytes of an earlier read
        {{"ab\bc\r\n"}, true, true, "ac\r\n", "ab\b \bc\r\n"},
        {{"\bx\t\r\n"}, true, true, "x       \r\n", "x       \r\n"},
        {{"hi\b\r\n"}, false, true, "hi\b\r\n", "hi\b\r\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.line);
        ScriptedPeer peer;
        peer.Accept();
        for (const std::string& p : k.pieces) peer.Send(p).Delay(30);
        peer.ReadToEnd();
        peer.Start();
        TLineClient c;
        c.S.LineEdit = k.edit;
        c.S.LineEcho = k.echo;
        c.After = [&](const std::string&) { c.S.PostClose(); };
        ASSERT_TRUE(c.Run(peer.Port()));
        peer.Join();
        EXPECT_EQ(c.Got, (Texts{k.line, "(closed)"}));
        EXPECT_EQ(peer.Received(), k.echoed);
    }
}

TEST(WSocketLine, ClosingHandsOutWhatIsBuffered) {
    // The peer ends in the middle of a line: one last delivery without line end.
    ScriptedPeer partial;
    partial.Accept().Send("one\r\nxyz").Close();
    partial.Start();
    TLineClient c;
    ASSERT_TRUE(c.Run(partial.Port()));
    EXPECT_EQ(c.Got, (Texts{"one\r\n", "xyz", "(closed)"}));

    // The handler closes after taking a line: the rest comes out once, the line not again.
    ScriptedPeer quit;
    quit.Accept().Send("QUIT\r\nrest").ReadToEnd();
    quit.Start();
    TLineClient q;
    q.After = [&](const std::string& got) {
        if (got == "QUIT\r\n") q.S.Close();
    };
    ASSERT_TRUE(q.Run(quit.Port()));
    EXPECT_EQ(q.Got, (Texts{"QUIT\r\n", "rest", "(closed)"}));

    // A handler that dispatches messages: what arrives meanwhile (the close included) is
    // delivered line by line after the line it is handling.
    ScriptedPeer nested;
    nested.Accept().Send("one\r\n").ReadUntil("go").Send("two\r\nthree\r\n").Close();
    nested.Start();
    TLineClient n;
    n.After = [&](const std::string& got) {
        if (got != "one\r\n") return;
        n.S.SendText("go");
        EXPECT_TRUE(PumpUntil([&] { return n.Closed; }));
    };
    ASSERT_TRUE(n.Run(nested.Port()));
    EXPECT_EQ(n.Got, (Texts{"one\r\n", "two\r\n", "three\r\n", "(closed)"}));

    // Line mode went off and the peer closed at once: every buffered byte still comes out.
    const std::string body(3000, 'b');
    ScriptedPeer plain;
    plain.Accept().Send("HEAD\r\n" + body).Close();
    plain.Start();
    TLineClient p;
    p.After = [&](const std::string& got) {
        if (got == "HEAD\r\n") p.S.SetLineMode(false);
    };
    ASSERT_TRUE(p.Run(plain.Port()));
    EXPECT_EQ(Join(p.Got), "HEAD\r\n" + body + "(closed)");

    // The last line, read 7 bytes at a time: the second read switches line mode off, the
    // plain read after it switches it back on; the rest is still handed out.
    const std::string last = "no line end in 27 bytes ...";
    ScriptedPeer toggled;
    toggled.Accept().Send(last).Close();
    toggled.Start();
    TLineClient t;
    t.ReadSize = 7;
    int reads = 0;
    t.After = [&](const std::string&) {
        if (++reads == 2) t.S.SetLineMode(false);
        if (reads == 3) t.S.SetLineMode(true);
    };
    ASSERT_TRUE(t.Run(toggled.Port()));
    EXPECT_EQ(Join(t.Got), last + "(closed)");
}

TEST(WSocketLine, AnEchoThatFailsWhileEditingEndsTheSession) {
    // The server is gone before the client reads "x\b": the echo of x draws a reset, the
    // echo of the backspace fails and closes the session in the middle of the editing.
    ScriptedPeer peer;
    peer.Accept().Send("x\b").Close();
    peer.Start();
    TLineClient c;
    c.S.LineEdit = true;
    c.S.LineEcho = true;
    c.S.SetAddr("127.0.0.1");
    c.S.SetPort(std::to_string(peer.Port()));
    c.S.Connect();
    peer.Join();  // bytes and close are there before the client reads
    ASSERT_TRUE(PumpUntil([&] { return c.Closed; }));
    EXPECT_EQ(c.Got.back(), "(closed)");
}

TEST(WSocketLine, ResumingEndsWhenNothingCanBeHandedOut) {
    ScriptedPeer peer;
    peer.Accept().Send("abc").ReadUntil("go").Send("def\r\n").Close();
    peer.Start();
    TLineClient c;
    const TDataAvailable reader = c.S.OnDataAvailable;
    c.S.OnDataAvailable = nullptr;
    bool buffered = false;  // the limit event tells when the bytes are in the buffer
    c.S.LineLimit = 2;
    c.S.OnLineLimitExceeded = [&](TObject*, int, bool& clear) {
        buffered = true;
        clear = false;
    };
    c.S.SetAddr("127.0.0.1");
    c.S.SetPort(std::to_string(peer.Port()));
    c.S.Connect();
    ASSERT_TRUE(PumpUntil([&] { return buffered; }));
    c.S.SetLineMode(false);  // no handler to hand the bytes to
    PumpPending();
    c.S.SetLineMode(true);  // only an incomplete line
    PumpPending();
    c.S.OnDataAvailable = reader;
    c.S.LineLimit = 0;
    c.S.SendText("go");
    ASSERT_TRUE(PumpUntil([&] { return c.Closed; }));
    EXPECT_EQ(c.Got, (Texts{"abcdef\r\n", "(closed)"}));
}

TEST(WSocketLine, LinesBehindAProxyReply) {
    ScriptedPeer proxy;
    proxy.Accept().ReadCount(3).Send(Bytes({5, 0})).ReadCount(3 + 13);
    proxy.Send(Bytes({5, 0, 0, 1, 127, 0, 0, 1, 0, 80}) + "line1\r\npart").Delay(30).Send("ial\r\n").Close();
    proxy.Start();
    TLineClient c;
    c.S.SetSocksServer("127.0.0.1");
    c.S.SetSocksPort(std::to_string(proxy.Port()));
    c.S.SetAddr("server");
    c.S.SetPort("80");
    c.S.Connect();
    ASSERT_TRUE(PumpUntil([&] { return c.Closed; }));
    EXPECT_EQ(c.Got, (Texts{"line1\r\n", "partial\r\n", "(closed)"}));
}
