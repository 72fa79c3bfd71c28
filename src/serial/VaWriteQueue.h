// SPDX-License-Identifier: GPL-3.0-or-later
// The write queue's buffer and the millisecond clock its deadlines are
// measured with.
#pragma once

#include <cstdint>
#include <memory>

// The write queue: one block allocated at creation, bytes queued at its front.
class TVaCommBuffer {
  public:
    explicit TVaCommBuffer(int Capacity);
    uint8_t* Data() { return FData.get(); }
    int Size = 0;
    int Capacity() const { return FCapacity; }
    void Add(const void* Bytes, int N);
    void Remove(int N);

  private:
    std::unique_ptr<uint8_t[]> FData;
    int FCapacity;
};

// 32-bit millisecond tick count and the deadline rule of the write queue.
uint32_t VaTickCount();
bool VaTimeoutPassed(uint32_t Start, uint32_t Now, uint32_t Limit);
