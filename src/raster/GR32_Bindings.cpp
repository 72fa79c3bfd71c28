// SPDX-License-Identifier: GPL-3.0-or-later
#include "GR32_Bindings.h"

#include <memory>

TFunctionRegistry::TFunctionRegistry(std::string Name) : FName(std::move(Name)) {}

void TFunctionRegistry::AddEntry(TFunctionID FunctionID, TFunctionProc Proc,
                                 TCPUFeatures Required) {
    FEntries.push_back({FunctionID, Proc, Required});
}

void TFunctionRegistry::AddBinding(TFunctionID FunctionID,
                                   std::function<void(TFunctionProc)> Bind) {
    FBindings.push_back({FunctionID, std::move(Bind)});
}

TFunctionProc TFunctionRegistry::FindFunction(TFunctionID FunctionID,
                                              TCPUFeatures Available) const {
    // From the last registered to the first; the first usable one wins.
    for (auto It = FEntries.rbegin(); It != FEntries.rend(); ++It)
        if (It->FunctionID == FunctionID && (It->Required & ~Available) == 0) return It->Proc;
    return nullptr;
}

void TFunctionRegistry::RebindAll(TCPUFeatures Available) {
    for (auto& B : FBindings)
        if (TFunctionProc P = FindFunction(B.FunctionID, Available)) B.Bind(P);
}

static std::vector<std::unique_ptr<TFunctionRegistry>>& Owned() {
    static std::vector<std::unique_ptr<TFunctionRegistry>> R;
    return R;
}

static std::vector<TFunctionRegistry*>& Listed() {
    static std::vector<TFunctionRegistry*> R;
    return R;
}

TFunctionRegistry* NewRegistry(const std::string& Name) {
    Owned().push_back(std::make_unique<TFunctionRegistry>(Name));
    Listed().push_back(Owned().back().get());
    return Listed().back();
}

const std::vector<TFunctionRegistry*>& AllRegistries() {
    return Listed();
}

void RebindAllRegistries() {
    for (auto* R : Listed())
        R->RebindAll();
}
