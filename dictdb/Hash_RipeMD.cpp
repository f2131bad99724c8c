#include "dictdb/Hash_RipeMD.h"

#include <gcrypt.h>

void THash_RipeMD160::Final()
{
    LibraryFinal(GCRY_MD_RMD160);
}

void THash_RipeMD160::ProcessBlock(const void *Block)
{
    LibraryWrite(GCRY_MD_RMD160, Block, 64);
}
