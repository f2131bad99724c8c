// Feeds arbitrary bytes to the compressed-block decoder: it must answer with data or an error,
// never hang or allocate without bound.
#include "dictdb/Compress_Zlib.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    TMemoryStream source, dest;
    if (Size > 0)
        source.WriteBuffer(Data, qint64(Size));
    TCompAlgo_Zlib algo(nullptr);
    try {
        algo.DecodeStream(&source, &dest, -1);
    } catch (const dataaccess::Exception &) {
        // A refusal is a correct answer to a bad block.
    }
    return 0;
}
