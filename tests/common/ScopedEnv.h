// SPDX-License-Identifier: GPL-3.0-or-later
// Sets or unsets an environment variable for one scope and restores it.
#pragma once

#include <QByteArray>
#include <QtGlobal>

class TScopedEnv {
  public:
    // Value nullptr unsets the variable.
    TScopedEnv(const char* Name, const char* Value)
        : FName(Name), FHad(qEnvironmentVariableIsSet(Name)), FOld(qgetenv(Name)) {
        if (Value)
            qputenv(Name, Value);
        else
            qunsetenv(Name);
    }
    ~TScopedEnv() {
        if (FHad)
            qputenv(FName, FOld);
        else
            qunsetenv(FName);
    }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

  private:
    const char* FName;
    bool FHad;
    QByteArray FOld;
};
