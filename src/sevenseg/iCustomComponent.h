// SPDX-License-Identifier: GPL-3.0-or-later
// Common ancestor of the concrete display controls.
#pragma once

#include "iVCLComponent.h"

class TiCustomComponent : public TiVCLComponent {
  public:
    explicit TiCustomComponent(QWidget* Parent = nullptr) : TiVCLComponent(Parent) {}
};
