#pragma once

#include "dictdb/Hash_RipeMD.h"

// SHA-0: the SHA compression with the first published message schedule (no rotation). Stored
// password check texts and cipher keys depend on it, so it must not become SHA-1.
class THash_SHA : public THash_RipeMD160
{
public:
    void Final() override;

protected:
    void ProcessBlock(const void *Block) override;
};

// The SHA compression of one 64-byte block into State. RotateSchedule false is SHA-0 (what
// THash_SHA uses); true is SHA-1.
void ShaCompress(quint32 State[5], const void *Block, bool RotateSchedule);
