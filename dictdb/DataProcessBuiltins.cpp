#include "dictdb/Compress_Zlib.h"
#include "dictdb/DataProcess.h"
#include "dictdb/Enc_Blowfish.h"
#include "dictdb/Enc_Gost.h"
#include "dictdb/Enc_Twofish.h"

#include <mutex>

void RegisterBuiltinDataProcessAlgos()
{
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterCompressClass(TCompressAlgoClass::Of<TCompAlgo_Zlib>(), QStringLiteral("ZLIB"));
        RegisterEncryptClass(TEncryptAlgoClass::Of<TEncAlgo_Blowfish>(), QStringLiteral("Blowfish"));
        RegisterEncryptClass(TEncryptAlgoClass::Of<TEncAlgo_Twofish>(), QStringLiteral("Twofish"));
        RegisterEncryptClass(TEncryptAlgoClass::Of<TEncAlgo_Gost>(), QStringLiteral("Gost"));
    });
}
