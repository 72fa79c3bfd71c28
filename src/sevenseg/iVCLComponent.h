// SPDX-License-Identifier: GPL-3.0-or-later
// Second level of the display-control base: the per-control paint lock.
// User-interface thread only.
#pragma once

#include "iComponent.h"

#include <mutex>

class TiVCLComponent : public TiComponent {
  public:
    explicit TiVCLComponent(QWidget* Parent = nullptr) : TiComponent(Parent) {}
    ~TiVCLComponent() override { FDestroying = true; }

  protected:
    // Held around each paint. Re-entrant, so a paint nested in a paint (a
    // control rendering itself) cannot deadlock. Does nothing while the
    // control is being destroyed.
    void LockPaint() override {
        if (!FDestroying) FPaintLock.lock();
    }
    void UnlockPaint() override {
        if (!FDestroying) FPaintLock.unlock();
    }

  private:
    std::recursive_mutex FPaintLock;
    bool FDestroying = false;
};
