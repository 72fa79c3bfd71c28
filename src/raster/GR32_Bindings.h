// SPDX-License-Identifier: GPL-3.0-or-later
// Registries of processor-specific variants of the per-pixel operations.
// Each unit with variants owns one registry; each binding couples an
// operation identifier with the variable through which all callers reach it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "GR32_System.h"

using TFunctionID = int;
// Any function pointer, stored for rebinding.
using TFunctionProc = void (*)();

class TFunctionRegistry {
  public:
    explicit TFunctionRegistry(std::string Name);
    const std::string& Name() const { return FName; }

    // Entries are scanned from the last registered to the first: register
    // the portable form first and the most capable last.
    template <class F>
    void Add(TFunctionID FunctionID, F Proc, TCPUFeatures Required = NoCPUFeatures) {
        AddEntry(FunctionID, reinterpret_cast<TFunctionProc>(Proc), Required);
    }
    template <class F> void RegisterBinding(TFunctionID FunctionID, F* BindVariable) {
        AddBinding(FunctionID,
                   [BindVariable](TFunctionProc P) { *BindVariable = reinterpret_cast<F>(P); });
    }
    // The latest-registered entry whose required sets are all in Available;
    // nullptr when there is none.
    TFunctionProc FindFunction(TFunctionID FunctionID, TCPUFeatures Available) const;
    // Binds every registered variable to FindFunction(its id, Available);
    // a variable without a usable entry keeps its value.
    void RebindAll(TCPUFeatures Available);
    void RebindAll() { RebindAll(CPUFeatures()); }

  private:
    struct TFunctionInfo {
        TFunctionID FunctionID;
        TFunctionProc Proc;
        TCPUFeatures Required;
    };
    struct TBindingInfo {
        TFunctionID FunctionID;
        std::function<void(TFunctionProc)> Bind;
    };
    void AddEntry(TFunctionID FunctionID, TFunctionProc Proc, TCPUFeatures Required);
    void AddBinding(TFunctionID FunctionID, std::function<void(TFunctionProc)> Bind);

    std::string FName;
    std::vector<TFunctionInfo> FEntries;
    std::vector<TBindingInfo> FBindings;
};

// Creates a registry that lives for the whole process and is rebound by
// RebindAllRegistries (and RestrictCPUFeatures).
TFunctionRegistry* NewRegistry(const std::string& Name);
const std::vector<TFunctionRegistry*>& AllRegistries();
void RebindAllRegistries();
