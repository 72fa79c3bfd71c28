// SPDX-License-Identifier: GPL-3.0-or-later
// The event and write threads: what reaches the user-interface thread, the
// write queue, hang-up, and closing while a dispatch is on its way.
#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <thread>

#include "PtyPair.h"
#include "VaComm.h"
#include "VaPosix.h"
#include "VaSync.h"

namespace {

struct Port : ::testing::Test {
    TPtyPair Pty;
    std::unique_ptr<TVaComm> Comm{new TVaComm};
    std::vector<int> RxCounts;
    std::vector<int> Errors;
    std::string Received;
    Qt::HANDLE UiThread = QThread::currentThreadId();
    void SetUp() override {
        ASSERT_FALSE(Pty.SlavePath.empty());
        Comm->SetDeviceName(Pty.SlavePath);
        Comm->SetBaudrate(br9600);
        Comm->OnError = [this](TVaObject*, int E) { Errors.push_back(E); };
    }
    void ReadOnRx() {
        Comm->OnRxChar = [this](TVaObject* S, int Count) {
            EXPECT_EQ(S, Comm.get());
            EXPECT_EQ(QThread::currentThreadId(), UiThread);
            RxCounts.push_back(Count);
            Received += Comm->ReadText();
        };
    }
};

TEST(VaTimeout, DeadlineRuleWithWrapAround) {
    struct Case {
        uint32_t Start, Now, Limit;
        bool Passed;
    } Cases[] = {
        {100, 1100, 1000, false},          {100, 1101, 1000, true},
        {0xFFFFFF00u, 0xFF, 0x1FF, false}, {0xFFFFFF00u, 0x100, 0x1FF, false},
        {0xFFFFFF00u, 0x101, 0x1FF, true}, {5, 5, 0, false},
    };
    for (const Case& K : Cases)
        EXPECT_EQ(VaTimeoutPassed(K.Start, K.Now, K.Limit), K.Passed) << K.Start << " " << K.Now;
}

TEST(VaSync, RunsOnTheUserInterfaceThreadAndAStopReleasesAWaitingWorker) {
    auto Token = std::make_shared<TVaStopToken>();
    Qt::HANDLE Ran = nullptr;
    bool Direct = VaSynchronize(Token, [&] { Ran = QThread::currentThreadId(); });
    EXPECT_TRUE(Direct);
    EXPECT_EQ(Ran, QThread::currentThreadId());

    std::atomic<int> Result{-1};
    bool Called = false;
    std::thread Worker([&] { Result = VaSynchronize(Token, [&] { Called = true; }); });
    // The user-interface thread does not pump: the worker waits until stopped.
    ASSERT_TRUE(WaitUntil([&] { return Token->CallPending(); }, 10000));
    EXPECT_EQ(Result, -1);
    Token->Stop();
    Worker.join();
    EXPECT_EQ(Result, 0);
    Pump(20);
    EXPECT_FALSE(Called); // dropped, never run late
    EXPECT_FALSE(VaSynchronize(Token, [&] { Called = true; }));
}

TEST_F(Port, RxCharCountsWhatIsWaitingAtDispatchAndTheHandlerGetsItAll) {
    ReadOnRx();
    Comm->Open();
    Pty.Send("a");
    // Not pumping: the batch waits for this thread while more bytes arrive.
    ASSERT_TRUE(WaitUntil([&] { return Comm->InQueCount() == 1; }, 10000));
    Pty.Send("bc");
    Pty.Send("def");
    ASSERT_TRUE(WaitUntil([&] { return Comm->InQueCount() == 6; }, 10000));
    ASSERT_TRUE(PumpUntil([&] { return Received.size() == 6; }, 2000));
    Pump(150);
    EXPECT_EQ(Received, "abcdef");
    EXPECT_EQ(RxCounts, std::vector<int>{6});
    Pty.Send("#INFO\r");
    ASSERT_TRUE(PumpUntil([&] { return Received.size() == 12; }, 2000));
    EXPECT_EQ(RxCounts.back(), 6);
}

// Bytes arriving while a handler runs belong to the next dispatch: each
// handler's ReadText gives exactly its Count, and the counts add up to the
// stream, also when the stream overflows the receive buffer.
TEST_F(Port, EachDispatchReadsExactlyItsCountAndLaterBytesComeWithTheNext) {
    Comm->Buffers().SetReadSize(256);
    std::vector<std::string> Reads;
    std::string Big(1000, 'z');
    Comm->OnRxChar = [&](TVaObject*, int Count) {
        RxCounts.push_back(Count);
        if (RxCounts.size() == 1) {
            Pty.Send("defg");
            WaitUntil([&] { return Comm->InQueCount() >= Count + 4; }, 10000);
            EXPECT_EQ(Comm->InQueCount(), Count + 4);
        }
        Reads.push_back(Comm->ReadText());
        Received += Reads.back();
    };
    Comm->Open();
    Pty.Send("abc");
    ASSERT_TRUE(PumpUntil([&] { return Received.size() == 7; }, 2000));
    EXPECT_EQ(Reads, (std::vector<std::string>{"abc", "defg"}));
    EXPECT_EQ(RxCounts, (std::vector<int>{3, 4}));
    Pty.Send(Big);
    ASSERT_TRUE(PumpUntil([&] { return Received.size() == 1007; }, 2000));
    Pump(100);
    EXPECT_EQ(Received, "abcdefg" + Big);
    int Total = 0;
    for (size_t i = 0; i < RxCounts.size(); ++i) {
        EXPECT_EQ(RxCounts[i], int(Reads[i].size())) << i;
        Total += RxCounts[i];
    }
    EXPECT_EQ(Total, 1007);
}

TEST_F(Port, WithoutAHandlerTheBytesStayQueuedAndCostNoCpu) {
    Comm->Open();
    Pty.Send("xyz");
    Pump(100);
    double Cpu = ProcessCpuSeconds();
    Pump(2000);
    EXPECT_LT(ProcessCpuSeconds() - Cpu, 0.2);
    EXPECT_EQ(Comm->InQueCount(), 3);
    Pty.Send("!");
    Pump(100);
    EXPECT_EQ(Comm->ReadText(), "xyz!");
}

TEST_F(Port, HandlerExceptionsGoToTheApplicationAndReceivingGoesOn) {
    std::vector<std::string> Seen;
    SetApplicationExceptionHandler(
        [&](TVaObject*, const std::exception& E) { Seen.push_back(E.what()); });
    Comm->OnRxChar = [this](TVaObject*, int) {
        Received += Comm->ReadText();
        throw Exception("bad frame");
    };
    Comm->Open();
    Pty.Send("1");
    ASSERT_TRUE(PumpUntil([&] { return Received == "1"; }, 2000));
    Pty.Send("2");
    ASSERT_TRUE(PumpUntil([&] { return Received == "12"; }, 2000));
    SetApplicationExceptionHandler(nullptr);
    EXPECT_EQ(Seen, (std::vector<std::string>{"bad frame", "bad frame"}));
}

TEST_F(Port, TxEmptyOncePerDrainedQueue) {
    int TxEmpty = 0;
    Comm->OnTxEmpty = [&](TVaObject*) { ++TxEmpty; };
    Comm->Open();
    ASSERT_TRUE(Comm->WriteText("#INFO\r\n"));
    ASSERT_TRUE(PumpUntil([&] { return TxEmpty == 1; }, 2000));
    Pump(200);
    EXPECT_EQ(TxEmpty, 1);
    EXPECT_EQ(Pty.Receive(7, 1000), "#INFO\r\n");
    ASSERT_TRUE(Comm->WriteText("#READ\r\n"));
    ASSERT_TRUE(PumpUntil([&] { return TxEmpty == 2; }, 2000));
}

TEST_F(Port, TxEmptyAfterEachDirectWriteHasDrained) {
    int TxEmpty = 0;
    Comm->OnTxEmpty = [&](TVaObject*) { ++TxEmpty; };
    Comm->SetDirectWrite(true);
    EXPECT_EQ(Comm->EventMask(), EV_RXCHAR | EV_ERR | EV_TXEMPTY);
    Comm->Open();
    ASSERT_TRUE(Comm->WriteText("#INFO\r\n"));
    ASSERT_TRUE(PumpUntil([&] { return TxEmpty == 1; }, 2000));
    EXPECT_EQ(Pty.Receive(7, 1000), "#INFO\r\n");
    Pump(200);
    EXPECT_EQ(TxEmpty, 1);
    ASSERT_TRUE(Comm->WriteText("#READ\r\n"));
    ASSERT_TRUE(PumpUntil([&] { return TxEmpty == 2; }, 2000));
}

// A scripted device with modem lines behind the counter seam: the event
// thread sees each transition of the counters as its event.
namespace Modem {
std::atomic<uint32_t> Cts{0}, Dsr{0}, Ring{0}, Dcd{0}, Brk{0};
std::atomic<int> Calls{0};
int Counters(int, VaPosix::TErrorCounters& C) {
    ++Calls;
    C = VaPosix::TErrorCounters();
    C.Count[4] = Brk;
    C.Cts = Cts;
    C.Dsr = Dsr;
    C.Ring = Ring;
    C.Dcd = Dcd;
    return 0;
}
} // namespace Modem

TEST_F(Port, ModemLineTransitionsRaiseTheirEventsAndIdleMakesNoCalls) {
    struct Restore {
        VaPosix::TCounterSource Old = VaPosix::SetCounterSource(&Modem::Counters);
        ~Restore() { VaPosix::SetCounterSource(Old); }
    } Seam;
    std::vector<std::string> Seen;
    auto Note = [&](const char* Name) {
        return [&Seen, Name](TVaObject*) { Seen.push_back(Name); };
    };
    Comm->OnCts = Note("Cts");
    Comm->OnDsr = Note("Dsr");
    Comm->OnRing = Note("Ring");
    Comm->OnRlsd = Note("Rlsd");
    Comm->OnBreak = Note("Break");

    // Without modem events monitored nothing polls the device while idle.
    Comm->Open();
    Pump(100);
    const int Calls = Modem::Calls;
    Pump(300);
    EXPECT_EQ(Modem::Calls, Calls);
    Comm->Close();

    Comm->SetMonitorEvents(VaEvent(ceCts) | VaEvent(ceDsr) | VaEvent(ceRing) | VaEvent(ceRlsd) |
                           VaEvent(ceBreak) | VaEvent(ceError));
    const int AtOpen = Modem::Calls;
    Comm->Open();
    // The thread has taken its starting counts and polls.
    ASSERT_TRUE(PumpUntil([&] { return Modem::Calls >= AtOpen + 3; }, 2000));
    ++Modem::Cts;
    ASSERT_TRUE(PumpUntil([&] { return Seen.size() == 1; }, 2000));
    ++Modem::Dcd;
    ++Modem::Ring;
    ++Modem::Dsr;
    ASSERT_TRUE(PumpUntil([&] { return Seen.size() == 4; }, 2000));
    ++Modem::Brk;
    ASSERT_TRUE(PumpUntil([&] { return Seen.size() == 5; }, 2000));
    EXPECT_EQ(Seen, (std::vector<std::string>{"Cts", "Dsr", "Ring", "Rlsd", "Break"}));
    EXPECT_EQ(Errors, std::vector<int>{int(CE_BREAK)});
    QElapsedTimer T;
    T.start();
    Comm->Close();
    EXPECT_LT(T.elapsed(), 5000); // not held up by the thread's waits
}

TEST_F(Port, ExactlyWriteSizeQueuesAtOnceAndOneMoreFailsAfterWriteTimeout) {
    Comm->Buffers().SetWriteSize(512);
    // Long enough that queueing at once cannot be mistaken for waiting it
    // out on a loaded machine.
    Comm->Buffers().SetWriteTimeout(2000);
    Comm->Open();
    std::string Full(512, 'w');
    QElapsedTimer T;
    T.start();
    EXPECT_EQ(Comm->WriteBuf(Full.data(), 512), 512);
    EXPECT_LT(T.elapsed(), 2000);
    std::string Over(513, 'o');
    T.restart();
    std::string Msg;
    try {
        Comm->WriteBuf(Over.data(), 513);
    } catch (const EVaCommError& E) {
        Msg = E.Message();
    }
    EXPECT_EQ(Msg, "Output buffer is full. Please check comm status.");
    EXPECT_GE(T.elapsed(), 2000);
    EXPECT_EQ(Pty.Receive(512, 2000), Full);
}

TEST_F(Port, AStreamLargerThanEveryQueueArrivesWholeAndInOrder) {
    Comm->Buffers().SetWriteTimeout(5000);
    Comm->Open();
    std::string Sent;
    for (int i = 0; i < 100000; ++i)
        Sent += char('A' + i % 26 + (i / 26 % 2) * 32);
    std::string Got;
    std::thread Reader([&] { Got = Pty.Receive(Sent.size(), 20000); });
    bool AllQueued = true;
    try {
        for (size_t Off = 0; Off < Sent.size(); Off += 1000)
            AllQueued = AllQueued && Comm->WriteText(Sent.substr(Off, 1000));
    } catch (const EVaCommError& E) {
        ADD_FAILURE() << E.Message();
    }
    Reader.join();
    EXPECT_TRUE(AllQueued);
    EXPECT_EQ(Got.size(), Sent.size());
    EXPECT_TRUE(Got == Sent);
}

TEST_F(Port, HangupIsReportedOnceAndThenNothingSpins) {
    ReadOnRx();
    int TxEmpty = 0;
    Comm->OnTxEmpty = [&](TVaObject*) { ++TxEmpty; };
    Comm->Open();
    Pty.Send("last");
    ASSERT_TRUE(PumpUntil([&] { return Received == "last"; }, 2000));
    Pty.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return !Errors.empty(); }, 2000));
    Comm->WriteText("into the void");
    double Cpu = ProcessCpuSeconds();
    Pump(2000);
    EXPECT_LT(ProcessCpuSeconds() - Cpu, 0.2);
    EXPECT_EQ(Errors, std::vector<int>{0x400});
    EXPECT_EQ(Comm->ReadText(), "");
    EXPECT_TRUE(Comm->Active()); // only the application closes the port
    Comm->Close();
    EXPECT_FALSE(Comm->Active());
}

TEST_F(Port, CloseInsideADispatchReturnsAndNothingFiresAfterwards) {
    int Closes = 0;
    Comm->OnClose = [&](TVaObject*) { ++Closes; };
    Comm->OnRxChar = [this](TVaObject*, int Count) {
        RxCounts.push_back(Count);
        Comm->Close();
    };
    Comm->Open();
    Pty.Send("abc");
    ASSERT_TRUE(PumpUntil([&] { return Closes == 1; }, 2000));
    Pty.Send("more");
    Pump(200);
    EXPECT_EQ(RxCounts, std::vector<int>{3});
    Comm->Open(); // the device is free again
    EXPECT_TRUE(Comm->Active());
}

TEST_F(Port, CloseAndDestroyWhileADispatchWaitsForThisThread) {
    ReadOnRx();
    int TxEmpty = 0;
    Comm->OnTxEmpty = [&](TVaObject*) { ++TxEmpty; };
    for (int Round = 0; Round < 2; ++Round) {
        Comm->Open();
        Pty.Send("pending");
        Comm->WriteText("out");
        // Both threads have work for this thread: the bytes are in, the
        // written ones out. (The device may still hold the first round's
        // bytes, which reach the reopened port late on a loaded machine.)
        ASSERT_TRUE(WaitUntil([&] { return Comm->InQueCount() >= 7; }, 10000));
        ASSERT_EQ(Pty.Receive(3, 10000), "out");
        QElapsedTimer T;
        T.start();
        if (Round == 0)
            Comm->Close();
        else
            Comm.reset();             // destroyed with both threads waiting for this thread
        EXPECT_LT(T.elapsed(), 5000); // no deadlock against the waiting threads
        Pump(200);
        EXPECT_TRUE(RxCounts.empty());
        EXPECT_EQ(TxEmpty, 0);
        char Buf[64];
        while (read(Pty.Master, Buf, sizeof Buf) > 0) {
        }
    }
}

} // namespace
