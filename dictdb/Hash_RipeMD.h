#pragma once

#include "dictdb/Hash_MD.h"

class THash_RipeMD160 : public THash_MD4
{
public:
    void Final() override;
    int DigestSize() const override { return 20; }

protected:
    void ProcessBlock(const void *Block) override;
};
