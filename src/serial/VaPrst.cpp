// SPDX-License-Identifier: GPL-3.0-or-later
#include "VaPrst.h"

#include "ScopeGuards.h"

void TVaFlowControl::Assign(const TVaPersistent& Source) {
    auto* S = dynamic_cast<const TVaFlowControl*>(&Source);
    if (!S) return TVaPersistent::Assign(Source);
    TUpdateGuard<TVaPersistent> Update(*this);
    SetOutCtsFlow(S->FOutCtsFlow);
    SetOutDsrFlow(S->FOutDsrFlow);
    SetControlDtr(S->FControlDtr);
    SetControlRts(S->FControlRts);
    SetXonXoffOut(S->FXonXoffOut);
    SetXonXoffIn(S->FXonXoffIn);
    SetDsrSensitivity(S->FDsrSensitivity);
    SetTxContinueOnXoff(S->FTxContinueOnXoff);
}

void TVaEventChars::SetChar(int Index, uint8_t C) {
    if (Index < 1 || Index > 5) return;
    FChars[Index - 1] = C;
    Changed();
}

void TVaEventChars::Assign(const TVaPersistent& Source) {
    auto* S = dynamic_cast<const TVaEventChars*>(&Source);
    if (!S) return TVaPersistent::Assign(Source);
    TUpdateGuard<TVaPersistent> Update(*this);
    for (int i = 1; i <= 5; ++i)
        SetChar(i, S->FChars[i - 1]);
}

void TVaBuffers::Set(int& Field, int V) {
    if (V < 0) V = 0;
    if (Field == V) return;
    Field = V;
    Changed();
}

void TVaBuffers::Assign(const TVaPersistent& Source) {
    auto* S = dynamic_cast<const TVaBuffers*>(&Source);
    if (!S) return TVaPersistent::Assign(Source);
    // The change is reported when the bracket closes; a refusal there (port
    // open) comes after all values are stored, and the guard passes it on.
    TUpdateGuard<TVaPersistent> Update(*this);
    FReadSize = S->FReadSize;
    FWriteSize = S->FWriteSize;
    FReadTimeout = S->FReadTimeout;
    FWriteTimeout = S->FWriteTimeout;
    FXonLimit = S->FXonLimit;
    FXoffLimit = S->FXoffLimit;
}
