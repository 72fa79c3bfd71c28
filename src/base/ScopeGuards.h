// SPDX-License-Identifier: GPL-3.0-or-later
// Brackets that an exception cannot leave open: an update bracket
// (BeginUpdate/EndUpdate), a lock (Lock/Unlock) and a general clean-up, each
// closed when the scope is left, by return or by exception. No Qt.
//
// A closing call that raises on the normal way out passes its exception on.
// While another exception is already unwinding the stack, one raised by the
// closing call is dropped: the first exception is the cause and reaches the
// caller (two at once would end the program).
#pragma once

#include <exception>
#include <utility>

template <class F> class TScopeExit {
  public:
    explicit TScopeExit(F Cleanup)
        : FCleanup(std::move(Cleanup)), FUnwinding(std::uncaught_exceptions()) {}
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;
    ~TScopeExit() noexcept(false) {
        if (std::uncaught_exceptions() == FUnwinding) {
            FCleanup();
            return;
        }
        try {
            FCleanup();
        } catch (...) {
        }
    }

  private:
    F FCleanup;
    int FUnwinding;
};

// Holds T's update bracket open for the guard's lifetime.
template <class T> class TUpdateGuard {
  public:
    explicit TUpdateGuard(T& Object) : FEnd((Object.BeginUpdate(), TEnd{&Object})) {}

  private:
    struct TEnd {
        T* Object;
        void operator()() const { Object->EndUpdate(); }
    };
    TScopeExit<TEnd> FEnd;
};

// Holds T's lock for the guard's lifetime.
template <class T> class TLockGuard {
  public:
    explicit TLockGuard(T& Object) : FUnlock((Object.Lock(), TUnlock{&Object})) {}

  private:
    struct TUnlock {
        T* Object;
        void operator()() const { Object->Unlock(); }
    };
    TScopeExit<TUnlock> FUnlock;
};
