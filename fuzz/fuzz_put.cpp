// The Put job with the input as the copy log.
#include "fuzz/transfer_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    tessaly::fuzz::runTransfer(tessaly::TransferKind::Put, data, size);
    return 0;
}
