// SPDX-License-Identifier: GPL-3.0-or-later
// Settings objects of the serial component: handshake, special characters,
// queue sizes and time-outs. Each reports a change to its owner through
// OnChange (TVaPersistent); Assign copies all values and reports once.
#pragma once

#include <cstdint>

#include "VaClasses.h"

enum TVaControlDtr { dtrDisabled, dtrEnabled, dtrHandshake };
enum TVaControlRts { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };

// Eight handshake settings, all off at creation. A setter notifies only when
// the value changes.
class TVaFlowControl : public TVaPersistent {
  public:
    bool OutCtsFlow() const { return FOutCtsFlow; }
    bool OutDsrFlow() const { return FOutDsrFlow; }
    TVaControlDtr ControlDtr() const { return FControlDtr; }
    TVaControlRts ControlRts() const { return FControlRts; }
    bool XonXoffOut() const { return FXonXoffOut; }
    bool XonXoffIn() const { return FXonXoffIn; }
    bool DsrSensitivity() const { return FDsrSensitivity; }
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }

    void SetOutCtsFlow(bool V) { Set(FOutCtsFlow, V); }
    void SetOutDsrFlow(bool V) { Set(FOutDsrFlow, V); }
    void SetControlDtr(TVaControlDtr V) { Set(FControlDtr, V); }
    void SetControlRts(TVaControlRts V) { Set(FControlRts, V); }
    void SetXonXoffOut(bool V) { Set(FXonXoffOut, V); }
    void SetXonXoffIn(bool V) { Set(FXonXoffIn, V); }
    void SetDsrSensitivity(bool V) { Set(FDsrSensitivity, V); }
    void SetTxContinueOnXoff(bool V) { Set(FTxContinueOnXoff, V); }

    void Assign(const TVaPersistent& Source) override;

  private:
    template <class T> void Set(T& Field, T V) {
        if (Field == V) return;
        Field = V;
        Changed();
    }
    bool FOutCtsFlow = false;
    bool FOutDsrFlow = false;
    TVaControlDtr FControlDtr = dtrDisabled;
    TVaControlRts FControlRts = rtsDisabled;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDsrSensitivity = false;
    bool FTxContinueOnXoff = false;
};

// Five special characters, indexed 1 to 5. Every write notifies, also when
// the value is unchanged.
class TVaEventChars : public TVaPersistent {
  public:
    uint8_t XonChar() const { return FChars[0]; }
    uint8_t XoffChar() const { return FChars[1]; }
    uint8_t ErrorChar() const { return FChars[2]; }
    uint8_t EventChar() const { return FChars[3]; }
    uint8_t EofChar() const { return FChars[4]; }

    void SetXonChar(uint8_t C) { SetChar(1, C); }
    void SetXoffChar(uint8_t C) { SetChar(2, C); }
    void SetErrorChar(uint8_t C) { SetChar(3, C); }
    void SetEventChar(uint8_t C) { SetChar(4, C); }
    void SetEofChar(uint8_t C) { SetChar(5, C); }
    // Index 1..5; other indexes are ignored.
    void SetChar(int Index, uint8_t C);

    void Assign(const TVaPersistent& Source) override;

  private:
    uint8_t FChars[5] = {0x11, 0x13, 0, 0, 0};
};

// Sizes, limits and time-outs; each of type TVaIntW (0..2147483647): a
// negative value written is stored as 0. The time-outs are plain fields.
class TVaBuffers : public TVaPersistent {
  public:
    int ReadSize() const { return FReadSize; }
    int WriteSize() const { return FWriteSize; }
    int ReadTimeout() const { return FReadTimeout; }
    int WriteTimeout() const { return FWriteTimeout; }
    int XonLimit() const { return FXonLimit; }
    int XoffLimit() const { return FXoffLimit; }

    void SetReadSize(int V) { Set(FReadSize, V); }
    void SetWriteSize(int V) { Set(FWriteSize, V); }
    void SetReadTimeout(int V) { FReadTimeout = V < 0 ? 0 : V; }
    void SetWriteTimeout(int V) { FWriteTimeout = V < 0 ? 0 : V; }
    void SetXonLimit(int V) { Set(FXonLimit, V); }
    void SetXoffLimit(int V) { Set(FXoffLimit, V); }

    void Assign(const TVaPersistent& Source) override;

  private:
    void Set(int& Field, int V);
    int FReadSize = 4096;
    int FWriteSize = 2048;
    int FReadTimeout = 1000;
    int FWriteTimeout = 1000;
    int FXonLimit = 1024;
    int FXoffLimit = 1024;
};
