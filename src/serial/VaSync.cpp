// SPDX-License-Identifier: GPL-3.0-or-later
#include "VaSync.h"

#include <deque>

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include "VaClasses.h"

// The hand-off to the user-interface thread. A call's data (the function, its
// captures, the token) passes through a mailbox under a standard mutex; what
// is posted through Qt's event queue carries nothing but "run the next call".
// Qt's own queue orders the two threads too, but with locks that a thread
// checker cannot see; the mailbox makes the order it relies on visible, so
// that only Qt's internals are left to the checker's suppressions. One posted
// event runs one call, so calls keep their place among other events.
namespace {
std::mutex MailboxLock;
std::deque<std::function<void()>> Mailbox;

void RunNextCall() {
    std::function<void()> Fn;
    {
        std::lock_guard<std::mutex> L(MailboxLock);
        if (Mailbox.empty()) return;
        Fn = std::move(Mailbox.front());
        Mailbox.pop_front();
    }
    Fn();
}

void PostCall(QCoreApplication* App, std::function<void()> Fn) {
    {
        std::lock_guard<std::mutex> L(MailboxLock);
        Mailbox.push_back(std::move(Fn));
    }
    QMetaObject::invokeMethod(
        App, [] { RunNextCall(); }, Qt::QueuedConnection);
}
} // namespace

void TVaStopToken::Stop() {
    std::lock_guard<std::mutex> L(FLock);
    FStopped = true;
    if (FState == csPending) FState = csDropped;
    FDone.notify_all();
}

bool TVaStopToken::Stopped() const {
    std::lock_guard<std::mutex> L(FLock);
    return FStopped;
}

bool TVaStopToken::CallRunning() const {
    std::lock_guard<std::mutex> L(FLock);
    return FState == csRunning;
}

bool TVaStopToken::CallPending() const {
    std::lock_guard<std::mutex> L(FLock);
    return FState == csPending;
}

bool VaIsMainThread() {
    QCoreApplication* App = QCoreApplication::instance();
    return App && QThread::currentThread() == App->thread();
}

static void RunGuarded(const std::function<void()>& Fn) {
    try {
        Fn();
    } catch (...) {
        ApplicationHandleException(nullptr);
    }
}

bool VaSynchronize(const std::shared_ptr<TVaStopToken>& Token, std::function<void()> Fn) {
    QCoreApplication* App = QCoreApplication::instance();
    if (!App) return false;
    if (QThread::currentThread() == App->thread()) {
        if (Token->Stopped()) return false;
        RunGuarded(Fn);
        return true;
    }
    unsigned Serial;
    {
        std::lock_guard<std::mutex> L(Token->FLock);
        if (Token->FStopped) return false;
        Token->FState = TVaStopToken::csPending;
        Serial = ++Token->FSerial;
    }
    // The queued call holds its own reference to the token: it may run (or
    // be discarded) after the worker has been released and gone.
    std::shared_ptr<TVaStopToken> T = Token;
    PostCall(App, [T, Serial, Fn = std::move(Fn)]() {
        {
            std::lock_guard<std::mutex> L(T->FLock);
            if (T->FSerial != Serial || T->FState != TVaStopToken::csPending) return;
            T->FState = TVaStopToken::csRunning;
        }
        RunGuarded(Fn);
        std::lock_guard<std::mutex> L(T->FLock);
        T->FState = TVaStopToken::csDone;
        T->FDone.notify_all();
    });
    std::unique_lock<std::mutex> L(Token->FLock);
    Token->FDone.wait(L, [&] {
        return Token->FState == TVaStopToken::csDone || Token->FState == TVaStopToken::csDropped;
    });
    bool Ran = Token->FState == TVaStopToken::csDone;
    Token->FState = TVaStopToken::csNone;
    return Ran;
}

void VaPost(const std::shared_ptr<TVaStopToken>& Token, std::function<void()> Fn) {
    QCoreApplication* App = QCoreApplication::instance();
    if (!App) return;
    std::shared_ptr<TVaStopToken> T = Token;
    PostCall(App, [T, Fn = std::move(Fn)]() {
        if (!T->Stopped()) RunGuarded(Fn);
    });
}
